#include "PrintSpooler.h"

#include <QFile>

#include <cups/cups.h>

namespace terralume::print::spooler {

namespace {

// A destination named "queue/instance" is the queue with a saved set of
// options; the spooler knows the two parts apart.
cups_dest_t *findDestination(const QString &destination)
{
    const QByteArray queue = destination.section(u'/', 0, 0).toLocal8Bit();
    const QByteArray instance = destination.section(u'/', 1).toLocal8Bit();
    return cupsGetNamedDest(CUPS_HTTP_DEFAULT, queue.constData(), instance.isEmpty() ? nullptr : instance.constData());
}

} // namespace

QString defaultDestination()
{
    cups_dest_t *dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, nullptr, nullptr);
    if (dest == nullptr)
        return QString();
    QString name = QString::fromLocal8Bit(dest->name);
    if (dest->instance != nullptr)
        name += u'/' + QString::fromLocal8Bit(dest->instance);
    cupsFreeDests(1, dest);
    return name;
}

QueueState queueState(const QString &queue)
{
    QueueState state;
    cups_dest_t *dest = findDestination(queue);
    if (dest == nullptr)
        return state;
    state.found = true;
    if (const char *s = cupsGetOption("printer-state", dest->num_options, dest->options))
        state.stopped = qstrcmp(s, "5") == 0; // IPP_PSTATE_STOPPED
    if (const char *s = cupsGetOption("printer-is-accepting-jobs", dest->num_options, dest->options))
        state.accepting = qstricmp(s, "false") != 0;
    if (const char *s = cupsGetOption("printer-state-message", dest->num_options, dest->options))
        state.message = QString::fromUtf8(s);
    // The user's saved choice first, then the queue's own default.
    const char *orientation = cupsGetOption("orientation-requested", dest->num_options, dest->options);
    cups_dinfo_t *info = orientation ? nullptr : cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest);
    if (info != nullptr) {
        if (ipp_attribute_t *value = cupsFindDestDefault(CUPS_HTTP_DEFAULT, dest, info, "orientation-requested")) {
            const int code = ippGetInteger(value, 0);
            state.landscape = code == IPP_ORIENT_LANDSCAPE || code == IPP_ORIENT_REVERSE_LANDSCAPE;
        }
        cupsFreeDestInfo(info);
    } else if (orientation != nullptr) {
        state.landscape = qstrcmp(orientation, "4") == 0 || qstrcmp(orientation, "5") == 0;
    }
    cupsFreeDests(1, dest);
    return state;
}

int submit(const QString &queue, const QString &fileName, QString &error)
{
    const QByteArray file = QFile::encodeName(fileName);
    cups_dest_t *dest = findDestination(queue);
    if (dest == nullptr) {
        error = QString::fromUtf8(cupsLastErrorString());
        return 0;
    }
    // The destination's own options (an instance's, the user's saved ones)
    // go with the job, as they do with lp.
    const int job = cupsPrintFile2(CUPS_HTTP_DEFAULT, dest->name, file.constData(), "", dest->num_options, dest->options);
    if (job == 0)
        error = QString::fromUtf8(cupsLastErrorString());
    cupsFreeDests(1, dest);
    return job;
}

} // namespace terralume::print::spooler
