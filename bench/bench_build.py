"""What both benchmarks share: the source tree, the Release build of CorvaneServer, and the
command-line options that choose it. Importing it also makes the integration tests' staging
helpers (ftp_harness) importable."""

import os
import subprocess
import sys

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "integration"))


def build_release(build_dir):
    subprocess.run(["cmake", "-S", SOURCE_DIR, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                    "-DCORVANE_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "--target", "CorvaneServer", "-j2"],
                   check=True, stdout=subprocess.DEVNULL)
    return os.path.join(build_dir, "bin", "CorvaneServer")


def add_build_options(parser):
    parser.add_argument("--build-dir", default=os.path.join(SOURCE_DIR, "build-bench"))
    parser.add_argument("--no-build", action="store_true",
                        help="use the CorvaneServer already built in --build-dir")


def server_binary(args):
    """The binary to measure: built now, or the one already in --build-dir with --no-build."""
    if args.no_build:
        return os.path.join(args.build_dir, "bin", "CorvaneServer")
    return build_release(args.build_dir)
