#include "resources/KorviResources.h"

#include <QtGlobal>

// Outside any namespace: the macro declares the resource's initialiser at global scope. Calling
// it from this file also keeps the linker from dropping the resource object of this library.
void InitKorviResources() {
    Q_INIT_RESOURCE(korvi);
}

QString PictureResourcePath(const QString &name) {
    return QStringLiteral(":/korvi/pictures/") + name + QStringLiteral(".png");
}
