#include "app/skin_framework/skin_package.h"

#include <QFile>

// The package is compiled into the program as a Qt resource; a static library
// needs the explicit call so the resource's object file is linked in.
static void InitSkinResource() { Q_INIT_RESOURCE(sorvane_skin); }

namespace sorvane::skin {

SkinPackage& SkinPackage::Instance() {
    static SkinPackage package = [] {
        SkinPackage p;
        InitSkinResource();
        QFile file(QStringLiteral(":/sorvane/skin.zip"));
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = file.readAll();
            p.LoadFromBytes(std::vector<uint8_t>(bytes.begin(), bytes.end()));
        }
        return p;
    }();
    return package;
}

bool SkinPackage::LoadFromBytes(std::vector<uint8_t> archive) {
    pictures_.clear();
    ok_ = zip_.Open(std::move(archive));
    return ok_;
}

QStringList SkinPackage::Names() const {
    QStringList names;
    for (const std::string& name : zip_.Names()) names.push_back(QString::fromStdString(name));
    return names;
}

bool SkinPackage::Has(const QString& name) const { return zip_.Contains(name.toStdString()); }

QByteArray SkinPackage::File(const QString& name) const {
    const auto bytes = zip_.Read(name.toStdString());
    if (!bytes) return {};
    return QByteArray(reinterpret_cast<const char*>(bytes->data()), static_cast<qsizetype>(bytes->size()));
}

QPixmap SkinPackage::Picture(const QString& name) const {
    const auto it = pictures_.constFind(name);
    if (it != pictures_.constEnd()) return *it;
    QPixmap pixmap;
    const QByteArray bytes = File(name);
    if (!bytes.isEmpty()) pixmap.loadFromData(bytes);
    pictures_.insert(name, pixmap);
    return pixmap;
}

}  // namespace sorvane::skin
