#include "tapi/host/provider_module.h"

namespace tapihost {

ProviderModule::~ProviderModule() { unload(); }

bool ProviderModule::load(const std::string& path) {
  unload();
  module_ = platform::loadLibrary(path);
  error_ = module_ ? std::string() : platform::lastModuleError();
  return module_ != nullptr;
}

void ProviderModule::unload() {
  if (module_) platform::freeLibrary(module_);
  module_ = nullptr;
}

}  // namespace tapihost
