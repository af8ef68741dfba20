#pragma once
// A provider plug-in loaded from its file, with its TSPI functions looked up by name.
#include <string>

#include "platform/module.h"

namespace tapihost {

class ProviderModule {
 public:
  ProviderModule() = default;
  ~ProviderModule();
  ProviderModule(const ProviderModule&) = delete;
  ProviderModule& operator=(const ProviderModule&) = delete;

  // Loads the plug-in (a path, or a module name resolved like any other).
  bool load(const std::string& path);
  void unload();
  // Forgets the module without unloading it, for code that may still run
  // (a provider's threads): it stays loaded for the rest of the process.
  void keepLoaded() { module_ = nullptr; }
  bool loaded() const { return module_ != nullptr; }
  platform::ModuleHandle handle() const { return module_; }
  // Unloads the module and makes why the error, for a load its user refuses.
  void refuse(std::string why) {
    unload();
    error_ = std::move(why);
  }
  const std::string& error() const { return error_; }

  // The exported function of that name, or nullptr.
  template <typename Fn>
  Fn function(const char* name) const {
    return module_ ? reinterpret_cast<Fn>(platform::getProcAddress(module_, name)) : nullptr;
  }

 private:
  platform::ModuleHandle module_ = nullptr;
  std::string error_;
};

}  // namespace tapihost
