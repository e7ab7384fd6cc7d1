#!/bin/sh
# A private CUPS scheduler with one PDF queue as its default printer, for the
# printing tests. Everything lives in a fresh temporary folder, and nothing
# needs root: the scheduler runs as whoever starts it (as root it hands the
# filters to lp, as a normal user it keeps them), and instead of the system's
# cups-pdf backend, which only root may run and which reads its settings
# from the system's own /etc/cups, the queue's device is a small backend of
# this folder that turns the job into a PDF with Ghostscript, the way
# cups-pdf does. The system's CUPS configuration is never touched.
#
# Each PDF is named after its job (job_ID.pdf) and appears under that name
# only once it is whole, so that a test can wait for the page of its own job.
#
#   cups-test-env.sh start STATE   start it; STATE receives the settings below
#   cups-test-env.sh halt STATE    stop the scheduler, keep its folder
#   cups-test-env.sh resume STATE  start the scheduler again on that folder
#   cups-test-env.sh freeze STATE  suspend the scheduler (SIGSTOP): it still
#                                  takes connections but answers nothing
#   cups-test-env.sh thaw STATE    let a suspended scheduler go on
#   cups-test-env.sh stop STATE    stop it and remove everything
#
# STATE is a shell file with CUPS_SERVER (the scheduler's socket),
# TERRALUME_CUPS_QUEUE (the queue), TERRALUME_CUPS_OUT (where the PDFs land)
# and TERRALUME_CUPS_DIR.
set -eu

action=${1:?usage: cups-test-env.sh start|halt|resume|freeze|thaw|stop STATE}
state=${2:?usage: cups-test-env.sh start|halt|resume|freeze|thaw|stop STATE}

ppd=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd

wait_for_scheduler() {
    tries=0
    until lpstat -r 2>/dev/null | grep -q "is running"; do
        tries=$((tries + 1))
        if [ "$tries" -gt 100 ]; then
            echo "the private scheduler did not start; its log:" >&2
            cat "$TERRALUME_CUPS_DIR/log/error_log" "$TERRALUME_CUPS_DIR/cupsd.out" >&2 2>/dev/null || true
            exit 1
        fi
        sleep 0.1
    done
}

run_scheduler() {
    setsid /usr/sbin/cupsd -f -c "$TERRALUME_CUPS_DIR/root/cupsd.conf" -s "$TERRALUME_CUPS_DIR/root/cups-files.conf" \
        >"$TERRALUME_CUPS_DIR/cupsd.out" 2>&1 </dev/null &
    echo $! >"$TERRALUME_CUPS_DIR/cupsd.pid"
    wait_for_scheduler
}

halt_scheduler() {
    pidfile="$TERRALUME_CUPS_DIR/cupsd.pid"
    [ -f "$pidfile" ] || return 0
    pid=$(cat "$pidfile")
    kill "$pid" 2>/dev/null || true
    tries=0
    while kill -0 "$pid" 2>/dev/null && [ "$tries" -lt 100 ]; do
        tries=$((tries + 1))
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
    rm -f "$pidfile" "$CUPS_SERVER"
}

case "$action" in
start)
    dir=$(mktemp -d "${TMPDIR:-/tmp}/terralume-cups.XXXXXX")
    # Filters run as lp and must reach the spool inside.
    chmod 755 "$dir"
    mkdir -p "$dir/root/ppd" "$dir/spool/tmp" "$dir/cache" "$dir/state" "$dir/log" "$dir/out" "$dir/bin/backend"
    chmod 1777 "$dir/spool/tmp" "$dir/out"
    # The system's filters and helpers, with a backend folder of our own.
    for part in /usr/lib/cups/*; do
        [ "${part##*/}" = backend ] || ln -s "$part" "$dir/bin/${part##*/}"
    done
    cat >"$dir/bin/backend/terralume-pdf" <<'BACKEND'
#!/bin/sh
# terralume-pdf:/FOLDER - writes each job as FOLDER/job_ID.pdf, renamed into
# place once Ghostscript has finished it.
if [ $# -eq 0 ]; then
    echo 'file terralume-pdf "Unknown" "PDF file of the print tests"'
    exit 0
fi
umask 022
out=${DEVICE_URI#*:}
part="$out/.job_$1.part"
gs -q -dCompatibilityLevel=1.4 -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -sOutputFile="$part" \
    -dAutoRotatePages=/PageByPage -dAutoFilterColorImages=false -dColorImageFilter=/FlateEncode \
    -dPDFSETTINGS=/prepress -f "${6:--}" >&2 || { rm -f "$part"; exit 1; }
mv "$part" "$out/job_$1.pdf"
BACKEND
    chmod 755 "$dir/bin/backend/terralume-pdf"
    queue="terralume-pdf-${dir##*.}"
    cat >"$state" <<STATE
CUPS_SERVER=$dir/cups.sock
TERRALUME_CUPS_QUEUE=$queue
TERRALUME_CUPS_OUT=$dir/out
TERRALUME_CUPS_DIR=$dir
export CUPS_SERVER TERRALUME_CUPS_QUEUE TERRALUME_CUPS_OUT TERRALUME_CUPS_DIR
STATE
    # shellcheck source=/dev/null # the state file written by start
    . "$state"
    cat >"$dir/root/cupsd.conf" <<CONF
Listen $dir/cups.sock
LogLevel info
Browsing No
BrowseLocalProtocols none
WebInterface No
DefaultAuthType None
MaxJobs 0
PreserveJobHistory Yes
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
    cat >"$dir/root/cups-files.conf" <<CONF
ServerRoot $dir/root
ServerBin $dir/bin
StateDir $dir/state
CacheDir $dir/cache
RequestRoot $dir/spool
TempDir $dir/spool/tmp
ErrorLog $dir/log/error_log
AccessLog $dir/log/access_log
PageLog $dir/log/page_log
User lp
Group lp
SystemGroup root
CONF
    run_scheduler
    # A job that cannot be printed fails alone; it does not stop the queue for
    # the jobs after it.
    lpadmin -p "$queue" -E -v "terralume-pdf:$dir/out" -P "$ppd" -o printer-error-policy=abort-job 2>/dev/null
    lpadmin -d "$queue"
    ;;
halt)
    # shellcheck source=/dev/null # the state file written by start
    . "$state"
    halt_scheduler
    ;;
resume)
    # shellcheck source=/dev/null # the state file written by start
    . "$state"
    run_scheduler
    ;;
freeze | thaw)
    # shellcheck source=/dev/null # the state file written by start
    . "$state"
    if [ "$action" = freeze ]; then signal=STOP; else signal=CONT; fi
    kill -s "$signal" "$(cat "$TERRALUME_CUPS_DIR/cupsd.pid")"
    ;;
stop)
    [ -f "$state" ] || exit 0
    # shellcheck source=/dev/null # the state file written by start
    . "$state"
    halt_scheduler
    case "$TERRALUME_CUPS_DIR" in
    */terralume-cups.*) rm -rf "$TERRALUME_CUPS_DIR" ;;
    esac
    rm -f "$state"
    ;;
*)
    echo "unknown action: $action" >&2
    exit 2
    ;;
esac
