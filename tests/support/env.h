// Environment variables a test sets for itself and for the programs it
// starts (the testing build's digest table, ...).
#ifndef KELVORN_TESTS_ENV_H
#define KELVORN_TESTS_ENV_H

#include <string>

namespace kt {

// Sets name to the UTF-8 value for this process (the C runtime's copy and,
// on Windows, the process environment children inherit). 1 on success.
int set_env(const char* name, const std::string& value);

// Sets a variable while it lives, then puts back the old value (or removes
// the variable when there was none).
struct ScopedEnv {
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    std::string name, old;
    bool had = false;
};

}  // namespace kt

#endif
