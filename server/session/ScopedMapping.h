#pragma once
// A path mapped through the directory links for the length of one handler: the engine view it
// replaced comes back when the scope ends, unless the handler keeps the new view (CWD).

#include <string>
#include <string_view>

#include "server/session/SiteSession.h"

namespace orvex {

class ScopedMapping {
  public:
    ScopedMapping(SiteSession& session, std::string_view typed)
        : session_(session), mapped_(session.MapPath(typed)) {}
    ~ScopedMapping() { Restore(); }
    ScopedMapping(const ScopedMapping&) = delete;
    ScopedMapping& operator=(const ScopedMapping&) = delete;

    bool Mapped() const { return mapped_.path.has_value(); }
    const std::string& Path() const { return *mapped_.path; }
    // The mapped path, or `typed` when the typed path already reaches the same place.
    const std::string& Or(const std::string& typed) const { return mapped_.Or(typed); }
    void Restore() {
        if (done_) return;
        done_ = true;
        session_.RestorePath(mapped_);
    }
    void Keep() { done_ = true; }

  private:
    SiteSession& session_;
    SiteSession::MappedPath mapped_;
    bool done_ = false;
};

}  // namespace orvex
