# SPDX-License-Identifier: MIT
# Who kvx is, in one place: the maintainer, the home page and the description that the Debian
# package, the man page, pkg-config and the module descriptions' URIs are made from. The version
# is project(kvx VERSION ...) in the top CMakeLists.txt.
set(KVX_MAINTAINER_NAME "The kvx developers")
set(KVX_MAINTAINER_EMAIL "kvx-devel@kvx.example.org")
set(KVX_MAINTAINER "${KVX_MAINTAINER_NAME} <${KVX_MAINTAINER_EMAIL}>")
set(KVX_HOMEPAGE "https://kvx.example.org")
# Module and plug-in URIs (e.g. LV2 bundles generated from module descriptions) start with this.
set(KVX_URI_BASE "${KVX_HOMEPAGE}/modules/")
set(KVX_COPYRIGHT_YEARS "2026")
set(KVX_LICENSE "MIT")
set(KVX_SUMMARY "module libraries for modular audio hosts: base, host library and tool")
# Lines of at most 79 characters (the Debian package's extended description).
set(KVX_DESCRIPTION
    "kvx builds and checks plug-in module libraries (.kvx) for modular audio hosts.
It ships the kvx tool, which lists, inspects, renders and validates modules,
the exponential ADSR envelope module, the static plug-in base and host library
with their headers, and the CMake package that builds a module library from a
few lines of a module author's own project.")
