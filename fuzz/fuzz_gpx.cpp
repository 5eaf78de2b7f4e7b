// SPDX-License-Identifier: GPL-3.0-or-later
// GPX files straight from the input through the XML reader and the importer into a
// store, then back out through the writers: nothing may crash or hang, every object
// imported must have a place GPX can carry, and what is written must read back with as
// many waypoints as there are marks.
#include <QCoreApplication>
#include <QTemporaryDir>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "fuzz_overlay_store.h"
#include "overlays/gpximport.h"
#include "overlays/xmlnode.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    FuzzOverlayStore::Create(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CXMLnode::Status status;
    const auto root = CXMLnode::ParseBuffer(reinterpret_cast<const char*>(data), size, &status);
    if (!root) std::abort();  // only files that cannot be read give no tree
    COverlayImportResult result;
    const bool ok = ImportGPXTree(*root, result);
    if (ok != (result.Objects() > 0)) std::abort();
    FuzzOverlayStore::Instance().CheckAndClear(result);
    return 0;
}
