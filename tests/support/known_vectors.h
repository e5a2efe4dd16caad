#pragma once
// The known-answer containers of tests/data/vectors: made by an implementation
// independent of this project, a sample of them decrypted by the original
// platform's own provider.
#include <QString>

#include <vector>

namespace testing_files {

struct KnownVector {
    QString container; // full path
    QString plain;     // full path
    QString password;
    bool high = true;
    int level = 9;
    QString containerSha256;
    QString plainSha256;
};

std::vector<KnownVector> LoadKnownVectors();

} // namespace testing_files
