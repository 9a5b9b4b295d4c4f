// The per-user settings store: texts under an application, a section and a
// key, shared by every request process of the site.
#ifndef QLOK_PLATFORM_SETTINGS_STORE_H_
#define QLOK_PLATFORM_SETTINGS_STORE_H_

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <tuple>

namespace qlok {

class SettingsStore {
 public:
  // What a write must survive.
  enum class Sync {
    // The text is on the disk when Write returns: after a crash the key
    // holds the new text or the old one, never an empty or partial one.
    kDurable,
    // Readers see the old text or the new one, never a part, but a crash
    // soon after the write may lose the new text: the key may then hold an
    // earlier text, or nothing. Far cheaper: for keys no request reads
    // back.
    kAtomic,
  };

  // The store's lock, held until this object is destroyed.
  class Lock {
   public:
    virtual ~Lock() = default;
  };

  virtual ~SettingsStore() = default;
  // The stored text, or `fallback` when there is none. A store that cannot
  // be read throws Failure.
  virtual std::u16string Read(const std::u16string& app,
                              const std::u16string& section,
                              const std::u16string& key,
                              const std::u16string& fallback) = 0;
  // Stores `value`, replacing what was there, atomically: a concurrent
  // reader sees the old text or the new one, never a part. Takes no lock.
  // Throws Failure when the store cannot be written; the key then keeps its
  // old text.
  virtual void Write(const std::u16string& app, const std::u16string& section,
                     const std::u16string& key, const std::u16string& value,
                     Sync sync) = 0;
  // Removes the key; a key that is not there is no failure. Throws Failure
  // when it cannot be removed.
  virtual void Remove(const std::u16string& app, const std::u16string& section,
                      const std::u16string& key) = 0;
  // Takes the lock of the whole store, waiting at most `patience` while
  // another process holds it, so that what processes do while they hold it
  // happens one after the other. Reads and writes themselves never wait for
  // it. Throws Failure when the lock cannot be had in time or at all.
  virtual std::unique_ptr<Lock> LockExclusively(
      std::chrono::milliseconds patience) = 0;
};

// The store kept in folder `dir` (the site home's settings/), one file per
// key under <dir>/<app>/<section>/; its lock is held on <dir>/store.lock.
std::unique_ptr<SettingsStore> NewFileSettingsStore(const std::string& dir);

// A store in memory; for tests. Its lock is always free.
class InMemorySettingsStore : public SettingsStore {
 public:
  std::u16string Read(const std::u16string& app, const std::u16string& section,
                      const std::u16string& key,
                      const std::u16string& fallback) override {
    auto it = values_.find({app, section, key});
    return it == values_.end() ? fallback : it->second;
  }
  void Write(const std::u16string& app, const std::u16string& section,
             const std::u16string& key, const std::u16string& value,
             Sync) override {
    values_[{app, section, key}] = value;
  }
  void Remove(const std::u16string& app, const std::u16string& section,
              const std::u16string& key) override {
    values_.erase({app, section, key});
  }
  std::unique_ptr<Lock> LockExclusively(std::chrono::milliseconds) override {
    return std::make_unique<Lock>();
  }

 private:
  std::map<std::tuple<std::u16string, std::u16string, std::u16string>,
           std::u16string>
      values_;
};

}  // namespace qlok

#endif  // QLOK_PLATFORM_SETTINGS_STORE_H_
