#include "support/env.h"

#include <stdlib.h>

#include "support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kt {

// value null: removes the variable.
static int put_env(const std::string& name, const std::string* value) {
#ifdef _WIN32
    const std::wstring wname = widen(name);
    const std::wstring wvalue = value ? widen(*value) : std::wstring();
    int ok = _wputenv_s(wname.c_str(), wvalue.c_str()) == 0;
    ok &= SetEnvironmentVariableW(wname.c_str(), value ? wvalue.c_str() : nullptr) != 0 || !value;
    return ok;
#else
    return value ? setenv(name.c_str(), value->c_str(), 1) == 0 : unsetenv(name.c_str()) == 0;
#endif
}

int set_env(const char* name, const std::string& value) { return put_env(name, &value); }

ScopedEnv::ScopedEnv(const char* n, const std::string& value) : name(n) {
    const char* v = getenv(n);
    had = v != nullptr;
    if (v) old = v;
    put_env(name, &value);
}

ScopedEnv::~ScopedEnv() { put_env(name, had ? &old : nullptr); }

}  // namespace kt
