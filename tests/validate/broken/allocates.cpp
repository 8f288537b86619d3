// SPDX-License-Identifier: MIT
// Broken: allocates on the heap inside process (whenever pins change).
#include <memory>
#include <vector>

#include "broken/broken_module.h"

namespace {
class Allocates : public kvx::adsr::Adsr {
public:
    void onPinChanges() noexcept override {
        Adsr::onPinChanges();
        scratch = std::make_unique<std::vector<float>>(64);
    }
    std::unique_ptr<std::vector<float>> scratch;
};
}  // namespace

KVX_REGISTER_BROKEN_MODULE(Allocates)
