#include "hls/EngineNotice.h"

#include <cstdio>

namespace {

EngineNoticeFunction &Notice() {
    static EngineNoticeFunction notice;
    return notice;
}

}  // namespace

void SetEngineNotice(EngineNoticeFunction notice) {
    Notice() = std::move(notice);
}

void ShowEngineError(const QString &text, const QString &caption) {
    if (Notice()) {
        Notice()(text, caption);
        return;
    }
    std::fprintf(stderr, "%s: %s\n", caption.toLocal8Bit().constData(),
                 text.toLocal8Bit().constData());
    std::fflush(stderr);
}
