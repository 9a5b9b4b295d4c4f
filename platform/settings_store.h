// The per-user settings store: texts under an application, a section and a
// key, shared by every request process of the site.
#ifndef QLOK_PLATFORM_SETTINGS_STORE_H_
#define QLOK_PLATFORM_SETTINGS_STORE_H_

#include <map>
#include <memory>
#include <string>
#include <tuple>

namespace qlok {

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // The stored text, or `fallback` when there is none. A store that cannot
  // be read throws Failure.
  virtual std::u16string Read(const std::u16string& app,
                              const std::u16string& section,
                              const std::u16string& key,
                              const std::u16string& fallback) = 0;
  // Stores `value`, replacing what was there, atomically: a concurrent
  // reader sees the old text or the new one, never a part. Takes no lock and
  // never waits. Throws Failure when the store cannot be written; the key
  // then keeps its old text.
  virtual void Write(const std::u16string& app, const std::u16string& section,
                     const std::u16string& key,
                     const std::u16string& value) = 0;
};

// The store kept in folder `dir` (the site home's settings/), one file per
// key.
std::unique_ptr<SettingsStore> NewFileSettingsStore(const std::string& dir);

// A store in memory; for tests.
class InMemorySettingsStore : public SettingsStore {
 public:
  std::u16string Read(const std::u16string& app, const std::u16string& section,
                      const std::u16string& key,
                      const std::u16string& fallback) override {
    auto it = values_.find({app, section, key});
    return it == values_.end() ? fallback : it->second;
  }
  void Write(const std::u16string& app, const std::u16string& section,
             const std::u16string& key, const std::u16string& value) override {
    values_[{app, section, key}] = value;
  }

 private:
  std::map<std::tuple<std::u16string, std::u16string, std::u16string>,
           std::u16string>
      values_;
};

}  // namespace qlok

#endif  // QLOK_PLATFORM_SETTINGS_STORE_H_
