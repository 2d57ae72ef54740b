#include "app/help/HelpTexts.h"

#include "app/help/UnitFormManual.h"
#include "support/TextUtils.h"

#include <QFile>

// The texts sit in this static library's resources, which the linker drops unless they are
// referenced.
static void InitHelpResources() {
    Q_INIT_RESOURCE(help);
}

QString TextResourcePath(const QString &resType, const QString &resName) {
    if (resType.compare(QLatin1String("TXT"), Qt::CaseInsensitive) != 0 || resName.isEmpty()) {
        return QString();
    }
    return QLatin1String(":/korvi/help/") + resName.toUpper() + QLatin1String(".txt");
}

QString LoadResText(const QString &resType, const QString &resName) {
    static const bool resourcesReady = (InitHelpResources(), true);
    Q_UNUSED(resourcesReady);
    const QString path = TextResourcePath(resType, resName);
    if (path.isEmpty()) {
        return QString();
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QString();
    }
    return DecodeLine(file.readAll());
}

QList<HelpTopic> HelpTopics() {
    return {
        {QStringLiteral("T1"), QStringLiteral("使用说明(&M)"), QStringLiteral("使用说明"),
         QStringLiteral("README")},
        {QStringLiteral("N28"), QStringLiteral("更新日志(&U)"), QStringLiteral("更新日志"),
         QStringLiteral("LOG")},
        {QStringLiteral("N29"), QStringLiteral("批量导入格式介绍(&B)"),
         QStringLiteral("批量导入任务格式说明"), QStringLiteral("EXAMPLE")},
    };
}

void ShowHelpTopic(QWidget *owner, const HelpTopic &topic) {
    TfrmManual viewer(owner);
    viewer.setWindowTitle(topic.viewerCaption);
    viewer.ShowText(LoadResText(QStringLiteral("TXT"), topic.resName));
    viewer.exec();
}
