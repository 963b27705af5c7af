#pragma once

class QWidget;

namespace corvane {

// Builds the "Service" tab's widgets: the banner; the group "Service Status" with the decorative
// picture, status_lbl ("Stopped") and the four stacked 50 x 50 status pictures (StatusUnknown
// visible); the group "Users Status" with TotalPorts_lbl ("? users are connected"); and the group
// "Service Management" with its six link labels (TLinkLabel), all enabled. What the service
// control panel and the connected-users poller do with them is wired by their own classes.
QWidget* BuildServiceTab(QWidget* parent);

}  // namespace corvane
