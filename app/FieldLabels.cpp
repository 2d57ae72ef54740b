#include "app/FieldLabels.h"

#include <QColor>
#include <QLabel>
#include <QPalette>

QStringList FieldLabelTexts() {
    return {
        QStringLiteral("输入文件"),
        QStringLiteral("输出文件"),
        QStringLiteral("转码参数"),
        QStringLiteral("编码设置"),
        QStringLiteral("m3u8"),
        QStringLiteral("保存为"),
        QStringLiteral("请求头"),
        QStringLiteral("类型"),
        QStringLiteral("地址"),
        QStringLiteral("端口"),
        QStringLiteral("用户名"),
        QStringLiteral("密码"),
        QStringLiteral("同时下载的任务数量"),
    };
}

void SetLabelGrey(QWidget *label) {
    if (label == nullptr) {
        return;
    }
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(128, 128, 128));
    label->setPalette(palette);
}

int ApplyFieldLabelColours(QWidget *root) {
    if (root == nullptr) {
        return 0;
    }
    const QStringList texts = FieldLabelTexts();
    int count = 0;
    const auto labels = root->findChildren<QLabel *>();
    for (QLabel *label : labels) {
        if (texts.contains(label->text())) {
            SetLabelGrey(label);
            ++count;
        }
    }
    return count;
}
