#include "known_vectors.h"

#include "temp_folder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace testing_files {

std::vector<KnownVector> LoadKnownVectors() {
    std::vector<KnownVector> vectors;
    const QString folder = VectorsFolder();
    const QJsonObject manifest =
        QJsonDocument::fromJson(ReadAll(folder + "/manifest.json")).object();
    for (const QJsonValue& entry : manifest["containers"].toArray()) {
        const QJsonObject o = entry.toObject();
        vectors.push_back({folder + "/" + o["container"].toString(),
                           folder + "/" + o["plain"].toString(), o["password"].toString(),
                           o["strength"].toString() == "high", o["level"].toInt(),
                           o["container_sha256"].toString(), o["plain_sha256"].toString()});
    }
    return vectors;
}

} // namespace testing_files
