// SPDX-License-Identifier: GPL-3.0-or-later
// Legacy CSV overlay files straight from the input into a store and out through the GPX
// writers, with the same checks as the GPX reader's fuzzer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz_overlay_store.h"
#include "overlays/csvimport.h"
#include "overlays/gpximport.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    FuzzOverlayStore::Create(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    COverlayImportResult result;
    const bool ok = ImportCSVText(reinterpret_cast<const char*>(data), size, result);
    if (ok != (result.Objects() > 0)) std::abort();
    FuzzOverlayStore::Instance().CheckAndClear(result);
    return 0;
}
