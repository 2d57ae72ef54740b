#pragma once
// What the workbench decides without widgets: the presets, the output extension that follows the
// audio codec, and the parameter line with its placeholders replaced.

#include <QList>
#include <QString>

// One submenu of the presets menu; `parent` is empty for a submenu of the menu itself.
struct WorkbenchSubmenu {
    QString name;
    QString caption;
    QString parent;
};

// One preset item: where it sits, its handler and the text between "[input]" and "[output]".
struct WorkbenchPreset {
    QString name;
    QString handler;
    QString caption;
    QString submenu;  // empty: directly in the menu
    QString text;
    bool allowAllExtensions = false;  // the local m3u8 merge reads segments of any extension

    // The whole parameter line the item puts into the editor.
    QString ParamLine() const;
};

extern const QString kInputPlaceholder;   // "[input]"
extern const QString kOutputPlaceholder;  // "[output]"
extern const QString kDefaultParamLine;   // "[input] -c copy [output]"

// In menu order; submenus come before their items.
const QList<WorkbenchSubmenu> &WorkbenchSubmenus();
const QList<WorkbenchPreset> &WorkbenchPresets();
// The default (bold) item, "原码".
const WorkbenchPreset &DefaultWorkbenchPreset();

// The output extension the parameter text asks for ("aac", "wav", ...), or empty when it names
// no audio-only codec; an empty result leaves the output name alone.
QString OutputExtensionForParams(const QString &paramText);

// A path as one argument of a parameter line: in double quotes, each '"' inside written as three
// quotes, which the line's split reads as one literal quote.
QString QuoteArgument(const QString &path);

// The parameter line as ffmpeg gets it: the lines joined with one blank, each "[input]" replaced
// by " -y -i " and the quoted input, each "[output]" by the quoted output.
QString BuildWorkbenchParamLine(const QString &paramText, const QString &input,
                                const QString &output);

// The folder a run starts in: the input's folder (a root stays a root).
QString WorkbenchRunDirectory(const QString &input);

// "desc|pat;pat|desc|pat" as file dialogs elsewhere write it, in Qt's "desc (pat pat);;..." form.
QString ToQtNameFilter(const QString &barFilter);

extern const QString kWorkbenchOpenFilter;
extern const QString kWorkbenchSaveFilter;
