#pragma once
// The help texts the program carries ("README", "LOG", "EXAMPLE" of type "TXT") and the help
// menu entries that show them.

#include <QList>
#include <QString>

class QWidget;

// The whole text resource. Bytes that are valid UTF-8 holding a non-ASCII byte are decoded as
// UTF-8; other bytes are taken as GBK (pure ASCII is then unchanged). Empty when the resource
// cannot be read.
QString LoadResText(const QString &resType, const QString &resName);

// The resource path of a text resource (":/korvi/help/README.txt" for "TXT", "README").
QString TextResourcePath(const QString &resType, const QString &resName);

struct HelpTopic {
    QString entry;          // object name of the menu entry
    QString menuCaption;    // text of the menu entry
    QString viewerCaption;  // caption of the viewer
    QString resName;        // the text resource shown
};

// T1, N28 and N29, in menu order.
QList<HelpTopic> HelpTopics();

// A menu entry's click: a new viewer with the topic's caption and text, shown modally and freed
// when it closes.
void ShowHelpTopic(QWidget *owner, const HelpTopic &topic);
