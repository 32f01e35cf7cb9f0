// A COM interface pointer released when it goes out of scope, so that no
// early return can leak the dialog or an item it handed out.
#ifndef KELVORN_UI_SCOPED_COM_H
#define KELVORN_UI_SCOPED_COM_H

template <typename Interface>
class ScopedComPtr {
public:
    ScopedComPtr() = default;
    ~ScopedComPtr() {
        if (pointer_) pointer_->Release();
    }
    ScopedComPtr(const ScopedComPtr&) = delete;
    ScopedComPtr& operator=(const ScopedComPtr&) = delete;

    Interface* operator->() const { return pointer_; }
    Interface* get() const { return pointer_; }
    // The slot a creating call writes a new reference into; the pointer must
    // be empty, so that nothing held is overwritten unreleased.
    Interface** receive() { return &pointer_; }

private:
    Interface* pointer_ = nullptr;
};

#endif
