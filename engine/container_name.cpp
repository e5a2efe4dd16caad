#include "engine/container_name.h"

bool IsContainerName(const QString& name) {
    return name.size() > kContainerExtensionLength &&
           name.endsWith(QStringView(kContainerExtension), Qt::CaseInsensitive);
}

QString ContainerDisplayName(const QString& containerName) {
    return containerName.left(containerName.size() - kContainerExtensionLength);
}

QString ContainerNameFor(const QString& plainName) {
    return plainName + QString::fromUtf16(kContainerExtension);
}
