// A FILE* that is closed when it goes out of scope, for functions with
// several ways out. close() closes it early and reports what fclose said,
// for the write paths, where a failing close means lost bytes.
#ifndef KELVORN_BASE_SCOPED_FILE_H
#define KELVORN_BASE_SCOPED_FILE_H

#include <stdio.h>

class ScopedFile {
public:
    explicit ScopedFile(FILE* file = nullptr) : file_(file) {}
    ~ScopedFile() {
        if (file_) fclose(file_);
    }
    ScopedFile(const ScopedFile&) = delete;
    ScopedFile& operator=(const ScopedFile&) = delete;

    FILE* get() const { return file_; }
    explicit operator bool() const { return file_ != nullptr; }
    // 1 when the stream was open and closed cleanly.
    int close() {
        FILE* file = file_;
        file_ = nullptr;
        return file && fclose(file) == 0;
    }

private:
    FILE* file_;
};

#endif
