#include "commands/password_request.h"

#include <algorithm>

bool IsPasswordStored(const PasswordRequest& request) {
    return request.password[0] != 0 || request.password[1] == kEmptyPasswordMark;
}

QString PasswordText(const PasswordRequest& request) {
    // A buffer that lost its terminator is read to its end, never beyond.
    const char16_t* begin = request.password;
    const char16_t* end = std::find(begin, begin + kPasswordCapacity, u'\0');
    return QString::fromUtf16(begin, end - begin);
}

void StorePassword(PasswordRequest* request, QStringView password) {
    ClearPassword(request);
    const qsizetype length = std::min<qsizetype>(password.size(), kPasswordCapacity - 1);
    std::copy_n(password.utf16(), length, request->password);
    if (length == 0)
        request->password[1] = kEmptyPasswordMark;
}

void ClearPassword(PasswordRequest* request) {
    plat::SecureZero(request->password, sizeof request->password);
}
