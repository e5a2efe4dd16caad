#include "bench_data.h"

#include "platform/unique_fd.h"
#include "platform/write_all.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace bench {

namespace {

// splitmix64: fast, and the same bytes on every machine.
struct Generator {
    uint64_t state;
    uint64_t Next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
};

// Letters about as often as in English prose.
constexpr char kLetters[] =
    "eeeeeeeeeeeetttttttttaaaaaaaaoooooooiiiiiiinnnnnnnsssssshhhhhhrrrrrrddddl"
    "lllcccuuummwwffggyyppbbvkjxqz";

// Made-up words of 2 to 9 letters. Used with a skew like that of real text (a
// few words very common, most rare), deflate shrinks them about 2.8 times at
// level 9 and runs about as fast as on prose.
std::vector<std::string> MakeVocabulary(Generator& generator) {
    std::vector<std::string> words(4096);
    for (std::string& word : words) {
        const uint64_t length = 2 + generator.Next() % 8;
        for (uint64_t i = 0; i < length; ++i)
            word += kLetters[generator.Next() % (sizeof kLetters - 1)];
    }
    return words;
}

QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}

} // namespace

Bytes CompressibleText(size_t size, uint64_t seed) {
    Bytes text;
    text.reserve(size + 64);
    Generator generator{seed};
    const std::vector<std::string> words = MakeVocabulary(generator);
    int wordsInLine = 0;
    while (text.size() < size) {
        const uint64_t r = generator.Next();
        // Log-uniform rank: word k is about as likely as 1/k.
        const double u = static_cast<double>(r >> 11) / 9007199254740992.0;
        const auto rank = static_cast<size_t>(std::pow(static_cast<double>(words.size()), u)) - 1;
        const std::string& word = words[std::min(rank, words.size() - 1)];
        text.insert(text.end(), word.begin(), word.end());
        text.push_back(++wordsInLine >= 8 + static_cast<int>(r % 7) ? '\n' : ' ');
        if (text.back() == '\n')
            wordsInLine = 0;
    }
    text.resize(size);
    return text;
}

Bytes RandomBytes(size_t size, uint64_t seed) {
    Bytes bytes(size);
    Generator generator{seed};
    for (size_t i = 0; i < size; i += 8) {
        const uint64_t r = generator.Next();
        std::memcpy(bytes.data() + i, &r, std::min<size_t>(8, size - i));
    }
    return bytes;
}

bool WriteDurably(const QString& path, const uint8_t* data, size_t size) {
    plat::UniqueFd file(
        ::open(Native(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!file.valid() || !plat::WriteAll(file.get(), data, size))
        return false;
    const bool flushed = ::fsync(file.get()) == 0;
    return file.close() && flushed;
}

bool ReadWhole(const QString& path, Bytes* bytes) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bytes->resize(static_cast<size_t>(file.size()));
    return file.read(reinterpret_cast<char*>(bytes->data()), file.size()) == file.size();
}

bool FileRepeats(const QString& path, const Bytes& pattern, uint64_t length) {
    QFile file(path);
    if (pattern.empty() || !file.open(QIODevice::ReadOnly) ||
        static_cast<uint64_t>(file.size()) != length)
        return false;
    Bytes piece(pattern.size());
    for (uint64_t offset = 0; offset < length; offset += pattern.size()) {
        const auto want = static_cast<qint64>(std::min<uint64_t>(pattern.size(), length - offset));
        if (file.read(reinterpret_cast<char*>(piece.data()), want) != want ||
            std::memcmp(piece.data(), pattern.data(), static_cast<size_t>(want)) != 0)
            return false;
    }
    return true;
}

bool Exists(const QString& path) {
    struct stat st;
    return ::stat(Native(path).constData(), &st) == 0;
}

void Remove(const QString& path) {
    ::unlink(Native(path).constData());
}

QString MemoryFileSystemName(const QString& folder) {
    constexpr long kTmpfsMagic = 0x01021994;
    constexpr long kRamfsMagic = 0x858458f6;
    struct statfs fs;
    if (::statfs(Native(folder).constData(), &fs) != 0)
        return QString();
    if (fs.f_type == kTmpfsMagic)
        return QStringLiteral("tmpfs");
    if (fs.f_type == kRamfsMagic)
        return QStringLiteral("ramfs");
    return QString();
}

} // namespace bench
