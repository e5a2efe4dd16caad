#include "platform/secure_memory.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace plat {

namespace {

// mlock does not nest: one munlock frees a page however often it was locked.
// The ranges and the number of them on each page decide when a page goes.
struct LockBook {
    std::mutex mutex;
    std::multimap<uintptr_t, size_t> ranges;
    std::map<uintptr_t, int> pages;
};

LockBook& Book() {
    // Never destroyed: secrets in static objects are unlocked after other statics are gone.
    static LockBook* book = new LockBook;
    return *book;
}

uintptr_t PageSize() {
    static const uintptr_t size = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    return size;
}

template <typename Each> void ForEachPage(uintptr_t start, size_t size, Each each) {
    const uintptr_t page = PageSize();
    for (uintptr_t at = start & ~(page - 1); at < start + size; at += page)
        each(at);
}

// The whole allocation of an unshared string or byte array; empty otherwise.
template <typename Data> std::pair<const void*, size_t> Allocation(const Data& d) {
    if (d.isShared())
        return {nullptr, 0};
    const auto* start = d.data() - d.freeSpaceAtBegin();
    return {start, size_t(d.constAllocatedCapacity()) * sizeof(*start)};
}

template <typename Text> void Forget(Text* text) {
    const auto [data, size] = Allocation(text->data_ptr());
    if (data) {
        // Unshared, so writing does not reach anyone else's text.
        SecureZero(const_cast<void*>(data), size);
        UnlockSecret(data, size);
    }
    text->clear();
}

} // namespace

void SecureZero(void* data, size_t size) {
    if (data && size)
        explicit_bzero(data, size);
}

void LockSecret(const void* data, size_t size) {
    if (!data || !size)
        return;
    LockBook& book = Book();
    const std::lock_guard<std::mutex> hold(book.mutex);
    const auto start = reinterpret_cast<uintptr_t>(data);
    book.ranges.emplace(start, size);
    ForEachPage(start, size, [&](uintptr_t page) {
        if (book.pages[page]++ == 0)
            mlock(reinterpret_cast<void*>(page), PageSize());
    });
}

void UnlockSecret(const void* data, size_t size) {
    if (!data || !size)
        return;
    LockBook& book = Book();
    const std::lock_guard<std::mutex> hold(book.mutex);
    const auto start = reinterpret_cast<uintptr_t>(data);
    auto [first, last] = book.ranges.equal_range(start);
    while (first != last && first->second != size)
        ++first;
    if (first == last)
        return;
    book.ranges.erase(first);
    ForEachPage(start, size, [&](uintptr_t page) {
        const auto count = book.pages.find(page);
        if (--count->second == 0) {
            munlock(reinterpret_cast<void*>(page), PageSize());
            book.pages.erase(count);
        }
    });
}

void LockSecret(const QString& text) {
    const auto [data, size] = Allocation(text.data_ptr());
    LockSecret(data, size);
}

void LockSecret(const QByteArray& bytes) {
    // QByteArray offers data_ptr() only non-const; it is only read here.
    const auto [data, size] = Allocation(const_cast<QByteArray&>(bytes).data_ptr());
    LockSecret(data, size);
}

void ForgetSecret(QString* text) {
    Forget(text);
}

void ForgetSecret(QByteArray* bytes) {
    Forget(bytes);
}

SecretGuard::SecretGuard(void* data, size_t size) : data_(data), size_(size) {
    LockSecret(data_, size_);
}

SecretGuard::~SecretGuard() {
    SecureZero(data_, size_);
    UnlockSecret(data_, size_);
}

bool ProtectProcessSecrets() {
    if constexpr (kLeakCheckerBuild)
        return false;
    else
        return prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
}

} // namespace plat
