#include "TerminalText.h"

#include <QByteArrayView>

namespace terralume {

std::string printableText(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t k = 0; k < text.size();) {
        const auto lead = static_cast<unsigned char>(text[k]);
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x6  ? 2
                                   : (lead >> 4) == 0xe  ? 3
                                   : (lead >> 3) == 0x1e ? 4
                                                         : 0;
        const std::string_view character = text.substr(k, length);
        const bool whole = length != 0 && character.size() == length && QByteArrayView(character).isValidUtf8();
        // C0 and C1 controls (U+0080..U+009F: 0xc2 0x80..0x9f) and DEL steer
        // a terminal; bytes that are no character at all are shown as they
        // are, by number.
        const bool control = length == 1 ? lead < 0x20 || lead == 0x7f
                                         : lead == 0xc2 && static_cast<unsigned char>(character.back()) < 0xa0;
        if (whole && !control) {
            shown.append(character);
            k += length;
        } else {
            shown += "\\x";
            shown += kHex[lead >> 4];
            shown += kHex[lead & 0xf];
            ++k;
        }
    }
    return shown;
}

QuietQtWarnings::QuietQtWarnings() : previous_(qInstallMessageHandler(&quiet))
{
    if (previous_ != &quiet)
        forwardTo = previous_;
}

QuietQtWarnings::~QuietQtWarnings() { qInstallMessageHandler(previous_); }

QtMessageHandler QuietQtWarnings::forwardTo = nullptr;

void QuietQtWarnings::quiet(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        forwardTo(type, context, text);
}

} // namespace terralume
