#!/bin/sh
# A private CUPS scheduler with one cups-pdf queue as its default printer, for
# the printing tests. Everything lives in a fresh temporary folder but one
# file: cups-pdf reads the configuration of a queue whose device is
# cups-pdf:/NAME from /etc/cups/cups-pdf-NAME.conf (a fixed place), so the
# set-up writes one under a name of its own, pointing the output, spool and
# log folders into the temporary folder, and "stop" removes it again. Each
# PDF is labelled with its job (TITLE-job_ID.pdf), so that a test can wait for
# the page of its own job.
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
# and TERRALUME_CUPS_DIR. Needs root (cupsd, lpadmin) like the CI machine.
set -eu

action=${1:?usage: cups-test-env.sh start|halt|resume|freeze|thaw|stop STATE}
state=${2:?usage: cups-test-env.sh start|halt|resume|freeze|thaw|stop STATE}

ppd=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd
pdfconf_dir=/etc/cups

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
    mkdir -p "$dir/root/ppd" "$dir/spool/tmp" "$dir/cache" "$dir/state" "$dir/log" "$dir/out" "$dir/pdfspool"
    chmod 1777 "$dir/spool/tmp" "$dir/out" "$dir/pdfspool"
    queue="terralume-pdf-${dir##*.}"
    cat >"$state" <<STATE
CUPS_SERVER=$dir/cups.sock
TERRALUME_CUPS_QUEUE=$queue
TERRALUME_CUPS_OUT=$dir/out
TERRALUME_CUPS_DIR=$dir
export CUPS_SERVER TERRALUME_CUPS_QUEUE TERRALUME_CUPS_OUT TERRALUME_CUPS_DIR
STATE
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
    cat >"$pdfconf_dir/cups-pdf-$queue.conf" <<CONF
Out $dir/out
AnonDirName $dir/out
Spool $dir/pdfspool
Log $dir/log
UserUMask 0000
Label 1
CONF
    run_scheduler
    lpadmin -p "$queue" -E -v "cups-pdf:/$queue" -P "$ppd" 2>/dev/null
    lpadmin -d "$queue"
    ;;
halt)
    . "$state"
    halt_scheduler
    ;;
resume)
    . "$state"
    run_scheduler
    ;;
freeze | thaw)
    . "$state"
    if [ "$action" = freeze ]; then signal=STOP; else signal=CONT; fi
    kill -s "$signal" "$(cat "$TERRALUME_CUPS_DIR/cupsd.pid")"
    ;;
stop)
    [ -f "$state" ] || exit 0
    . "$state"
    halt_scheduler
    rm -f "$pdfconf_dir/cups-pdf-$TERRALUME_CUPS_QUEUE.conf"
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
