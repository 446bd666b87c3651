#pragma once

// Helpers for tests that work with real files: an environment variable set
// for a scope, and file permissions that hold even for root. The calling
// thread only; not for tests that run threads of their own.

#include <sys/fsuid.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace lumenhollow::test {

// Sets (or, with nullptr, unsets) `name` and restores its old value when
// destroyed; also re-reads TZ.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
        ::tzset();
    }
    ~ScopedEnv() {
        old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_);
        ::tzset();
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// Root passes every permission check, so while this lives the calling
// thread's file calls run as "nobody" (a file user id other than 0 also
// drops the capabilities that bypass permissions).
class FilesAsNobody {
public:
    FilesAsNobody() : active_(::geteuid() == 0) {
        if (active_) ::setfsuid(65534);
    }
    ~FilesAsNobody() {
        if (active_) ::setfsuid(0);
    }
    FilesAsNobody(const FilesAsNobody&) = delete;
    FilesAsNobody& operator=(const FilesAsNobody&) = delete;

private:
    bool active_;
};

}  // namespace lumenhollow::test
