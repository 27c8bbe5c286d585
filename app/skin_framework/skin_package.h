// The skin package: the zip archive of layouts and pictures that is built from
// skin/ and embedded in the program. Windows read their layouts and pictures
// from here by the names used in the layouts ("xml/skin.xml", "checkbox.png").
#pragma once

#include <QByteArray>
#include <QHash>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "app/skin_framework/zip_reader.h"

namespace sorvane::skin {

class SkinPackage {
  public:
    // The package embedded in the program (loaded on first use; Ok() says whether it could be read).
    static SkinPackage& Instance();

    bool LoadFromBytes(std::vector<uint8_t> archive);
    bool Ok() const { return ok_; }
    const std::string& Error() const { return zip_.Error(); }

    QStringList Names() const;
    bool Has(const QString& name) const;
    // The bytes of an entry; empty when it is missing or damaged.
    QByteArray File(const QString& name) const;
    // A picture by entry name, decoded once; a null pixmap when missing.
    QPixmap Picture(const QString& name) const;

  private:
    ZipReader zip_;
    bool ok_ = false;
    mutable QHash<QString, QPixmap> pictures_;
};

}  // namespace sorvane::skin
