#pragma once
// The names under which log-ins wait for their record on each listener. Such a connection
// becomes a member only with its "OK", but its name is spoken for meanwhile: nobody else on
// the same listener may log in under it.
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "base/TextCase.h"

namespace velmora {

class MapSocket;

class PendingNames {
 public:
  void Take(const MapSocket& listener, std::string_view name) { ++names_[Key(listener, name)]; }
  void Release(const MapSocket& listener, std::string_view name) {
    auto entry = names_.find(Key(listener, name));
    if (entry != names_.end() && --entry->second <= 0) names_.erase(entry);
  }
  // Any letter case.
  bool Taken(const MapSocket& listener, std::string_view name) const {
    return names_.count(Key(listener, name)) > 0;
  }

 private:
  using Name = std::pair<const MapSocket*, std::string>;
  static Name Key(const MapSocket& listener, std::string_view name) {
    return {&listener, FoldedCopy(name)};
  }

  std::map<Name, int> names_;
};

}  // namespace velmora
