# SPDX-License-Identifier: MIT
# Who kvx is, in one place: the maintainer, the home page and the Debian packages' descriptions,
# which the packages, the man page, pkg-config and the module descriptions' URIs are made from.
# The version is project(kvx VERSION ...) in the top CMakeLists.txt.
set(KVX_MAINTAINER_NAME "The kvx developers")
set(KVX_MAINTAINER_EMAIL "kvx-devel@kvx.example.org")
set(KVX_MAINTAINER "${KVX_MAINTAINER_NAME} <${KVX_MAINTAINER_EMAIL}>")
set(KVX_HOMEPAGE "https://kvx.example.org")
# Module and plug-in URIs (e.g. LV2 bundles generated from module descriptions) start with this.
set(KVX_URI_BASE "${KVX_HOMEPAGE}/modules/")
set(KVX_COPYRIGHT_YEARS "2026")
set(KVX_LICENSE "MIT")
# The Debian packages' summaries and descriptions (lines of at most 79 characters).
set(KVX_RUNTIME_SUMMARY "tool and LV2 plug-in for .kvx module libraries of modular audio hosts")
set(KVX_RUNTIME_DESCRIPTION
    "kvx lists, inspects, renders and validates plug-in module libraries (.kvx)
for modular audio hosts, and makes LV2 bundles of them. This package ships the
kvx tool, the exponential ADSR envelope module \"KV ADSR4\" in the module
folder, and the same envelope as an LV2 plug-in (ADSR.lv2) for LV2 hosts.")
set(KVX_DEV_SUMMARY "development files for .kvx module libraries and their hosts")
set(KVX_DEV_DESCRIPTION
    "kvx builds and checks plug-in module libraries (.kvx) for modular audio hosts.
This package ships what a module author or a host builds with: the static
plug-in base, host library and description reader with their headers, the
CMake package whose kvx_add_module_library builds a module library from a few
lines, a pkg-config file for the host library, the description schema and the
example modules \"KV VCA\" and \"KV OSC\".")
