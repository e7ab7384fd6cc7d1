#include "PrintSpooler.h"

#include <QFile>

#include <cups/cups.h>

namespace terralume::print::spooler {

QueueState queueState(const QString &queue)
{
    QueueState state;
    const QByteArray name = queue.toLocal8Bit();
    cups_dest_t *dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, name.constData(), nullptr);
    if (dest == nullptr)
        return state;
    state.found = true;
    if (const char *s = cupsGetOption("printer-state", dest->num_options, dest->options))
        state.stopped = qstrcmp(s, "5") == 0; // IPP_PSTATE_STOPPED
    if (const char *s = cupsGetOption("printer-is-accepting-jobs", dest->num_options, dest->options))
        state.accepting = qstricmp(s, "false") != 0;
    if (const char *s = cupsGetOption("printer-state-message", dest->num_options, dest->options))
        state.message = QString::fromUtf8(s);
    cupsFreeDests(1, dest);
    return state;
}

int submit(const QString &queue, const QString &fileName, QString &error)
{
    const QByteArray name = queue.toLocal8Bit();
    const QByteArray file = QFile::encodeName(fileName);
    const int job = cupsPrintFile2(CUPS_HTTP_DEFAULT, name.constData(), file.constData(), "", 0, nullptr);
    if (job == 0)
        error = QString::fromUtf8(cupsLastErrorString());
    return job;
}

} // namespace terralume::print::spooler
