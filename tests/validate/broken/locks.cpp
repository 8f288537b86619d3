// SPDX-License-Identifier: MIT
// Broken: takes a mutex inside process (whenever pins change).
#include <mutex>

#include "broken/broken_module.h"

namespace {
class Locks : public kvx::adsr::Adsr {
public:
    void onPinChanges() noexcept override {
        std::lock_guard<std::mutex> hold(mutex);
        Adsr::onPinChanges();
    }
    std::mutex mutex;
};
}  // namespace

KVX_REGISTER_BROKEN_MODULE(Locks)
