#pragma once
// Memory that holds a password or key material: zeroed so that the compiler
// cannot drop it, kept out of swap while it is held, and kept from core dumps
// and from tracing by other processes of the same user.
#include <QByteArray>
#include <QString>

#include <cstddef>
#include <utility>

// AddressSanitizer's leak checker traces the process at exit, which an
// untraceable process refuses. Taken from the compiler, so that any way of
// turning the sanitizer on counts, not only the build option.
#if defined(__SANITIZE_ADDRESS__)
#define KESHLOR_LEAK_CHECKER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(leak_sanitizer)
#define KESHLOR_LEAK_CHECKER 1
#endif
#endif

namespace plat {

#ifdef KESHLOR_LEAK_CHECKER
inline constexpr bool kLeakCheckerBuild = true;
#else
inline constexpr bool kLeakCheckerBuild = false;
#endif

// Overwrites `size` bytes with zeros; never dropped as a dead store.
void SecureZero(void* data, size_t size);

// Asks that the pages under [data, data + size) stay in RAM until unlocked.
// Best effort: over RLIMIT_MEMLOCK they are simply not locked. Locks are
// counted per page, so unlocking one secret never unlocks a neighbour's page.
void LockSecret(const void* data, size_t size);
// Ends a lock taken with the same range; any other range is left alone.
void UnlockSecret(const void* data, size_t size);

// The same for the whole allocation of a string or byte array (spare capacity
// included), when it is the only holder of its buffer.
void LockSecret(const QString& text);
void LockSecret(const QByteArray& bytes);
// Zeroes and unlocks the whole allocation, then empties the string. A buffer
// shared with another holder is only let go: zeroing it would change the
// other holder's text, and detaching would just make one more copy. The last
// holder is the one to forget it.
void ForgetSecret(QString* text);
void ForgetSecret(QByteArray* bytes);

// A string or byte array that holds a secret, its one owner: the buffer it
// is given is locked, and it is forgotten (ForgetSecret) when the owner ends,
// on every way out. A buffer moved out of it stays locked, for its new holder
// to forget.
template <typename Text> class Secret {
  public:
    Secret() = default;
    explicit Secret(Text text) : text_(std::move(text)) { LockSecret(text_); }
    ~Secret() { ForgetSecret(&text_); }
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;

    Text& get() { return text_; }
    const Text& get() const { return text_; }

  private:
    Text text_;
};
using SecretText = Secret<QString>;
using SecretBytes = Secret<QByteArray>;

// A fixed buffer locked for the guard's lifetime and zeroed when it ends.
class SecretGuard {
  public:
    SecretGuard(void* data, size_t size);
    ~SecretGuard();
    SecretGuard(const SecretGuard&) = delete;
    SecretGuard& operator=(const SecretGuard&) = delete;

  private:
    void* data_;
    size_t size_;
};

// No core dumps and no tracing by the same user from now on, so a password
// in memory never leaves the process. False when not done: in leak-checker
// builds, or when the kernel refuses.
bool ProtectProcessSecrets();

} // namespace plat
