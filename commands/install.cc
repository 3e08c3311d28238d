#include "commands/install.h"

#include "commands/output.h"
#include "commands/remote_script.h"
#include "remote/error.h"
#include "opt/lookup.h"
#include "remote/exec.h"
#include "remote/session.h"
#include "remote/shell.h"

namespace {

// $DIR and $URL are quoted: a directory with a blank must not send the
// clean-up and the download into whatever directory the script is in, and
// pattern characters of a URL must reach wget as they are.  "--" keeps a
// URL that begins with "-" from being read as a wget option.
const char* const install_script_body = R"sh(
cd "$DIR" || exit 1
rm -f *.ret *.log

#################################################################################
# Download.

wget -O bf2_server -a download.log -- "$URL" 2>>download.log
RET=`echo $?`

if [ $RET -ne 0 ]; then
	echo $RET > download_err.ret
	exit 1
fi

echo $RET > download_ok.ret

#################################################################################
# Extract.

FILE=bf2_server

extract()
{
	eval $1 >>extract.log 2>&1
	RET=`echo $?`

	if [ $RET -ne 0 ]; then
		echo $RET > extract_err.ret
		exit 1
	fi

	echo $RET > extract_ok.ret
}

while [ 1 ]; do

# .tar.bz2
bzip2 -t $FILE >/dev/null 2>&1

if [ $? -eq 0 ]; then
	extract "tar -xjf $FILE"
	break
fi

# .tar.gz
gzip -t $FILE >/dev/null 2>&1

if [ $? -eq 0 ]; then
	extract "tar -xzf $FILE"
	break
fi

# .zip
unzip -t $FILE >/dev/null 2>&1

if [ $? -eq 0 ]; then
	extract "unzip -o $FILE"
	break
fi


# .run
head -n 10 $FILE | grep Makeself >/dev/null 2>&1

if [ $? -eq 0 ]; then
	{
		mv -f $FILE $FILE.orig >>extract.log 2>&1 \
		&& sed -e 's/\(script=\).*/\1/' < $FILE.orig > $FILE 2>> extract.log \
		&& rm -f $FILE.orig >>extract.log 2>&1 \
		&& chmod a+rx $FILE >>extract.log 2>&1 \
		&& ./$FILE --target "./bf2" >>extract.log 2>&1
	} || {
		RET=`echo $?`
		rm -f $FILE.orig >/dev/null 2>&1
		echo $RET > extract_err.ret
		exit 1
	}
	echo 0 > extract_ok.ret
	break
fi

# Error
echo 'Unknown archive type' > extract.log
echo -1 > extract_err.ret
exit 1

done

#################################################################################
# Install.

cd bf2 2>install.log >&2 &&
chmod 750 bf2_lnxded.dynamic bf2_lnxded.static fixinstall.sh start.sh &&
./fixinstall.sh
RET=`echo $?`
cd "$DIR" || exit 1

if [ $RET -ne 0 ]; then
	echo $RET > install_err.ret
	exit 1
fi

mv "$DIR/bf2" "$DIR/.." >>install.log 2>&1
RET=`echo $?`

if [ $RET -ne 0 ]; then
	echo $RET > install_err.ret
	exit 1
fi

echo $RET > install_ok.ret
)sh";

// quote VALUE prints VALUE as one single-quoted sh word: the temporary
// directory goes into the install script's DIR line the way shell_str would
// put it.  The script runs through sh, so a directory mounted noexec cannot
// stop it, with the hang-up ignored as under nohup.  It counts as started
// once it has left a trace, its download log (opened by its first command
// after the cd, before any status file): a shell that has the script's name
// in its command line may still die before running a line of it.
const char* const launch_install = R"sh(
quote() {
	rest=$1 quoted=
	while :; do
		case $rest in
		*\'*) quoted=$quoted${rest%%\'*}"'\\''"; rest=${rest#*\'} ;;
		*) printf "'%s%s'" "$quoted" "$rest"; return ;;
		esac
	done
}

mkdir -p -- "$DIR" 2>/dev/null
T=$(mktemp -d "$DIR/.bf2_install_XXXXXX") || fail mktemp
{ printf '%s' "$HEAD"; quote "$T"; printf '\n%s' "$BODY"; } | write_new "$T/install.sh" || fail copy
chmod 750 "$T/install.sh"
(trap '' 1; exec sh "$T/install.sh") </dev/null >/dev/null 2>&1 &
PID=$!
TRIES=0
until [ -e "$T/download.log" ]; do
	if [ ! -d /proc/$PID ]; then
		[ -e "$T/download.log" ] && break
		echo "the install script ended without a trace" >&2
		fail start
	fi
	TRIES=$((TRIES + 1))
	[ $TRIES -le 100 ] || { echo "the install script did not start within 10 s" >&2; fail start; }
	sleep 0.1
done
printf '%s' "$T"
)sh";

// The status files say how far the script got; a running script that has
// written none is still downloading.  A script that neither ended with a
// final status file nor still runs was killed (or the host rebooted); it is
// looked for once more after the files, as it may just have ended.
const char* const install_state = R"sh(
[ -f "$T/install.sh" ] || fail no-install
log_tail() {
	[ -f "$T/$1.log" ] && tail -n 10 "$T/$1.log" | sed 's/^/log: /'
}
state() {
	[ -f "$T/install_ok.ret" ] && { echo ok; return; }
	for stage in download extract install; do
		if [ -f "$T/${stage}_err.ret" ]; then
			read -r RET <"$T/${stage}_err.ret"
			printf 'failed\nstage: %s\nstatus: %s\n' $stage "$RET"
			log_tail $stage
			return
		fi
	done
	for cmdline in $(grep -l -s -F install.sh /proc/[0-9]*/cmdline); do
		PID=${cmdline#/proc/}
		ours "${PID%/cmdline}" "$T/install.sh" || continue
		if [ -f "$T/extract_ok.ret" ]; then echo installing
		elif [ -f "$T/download_ok.ret" ]; then echo extracting
		else
			BYTES=0
			[ -f "$T/bf2_server" ] && BYTES=$(($(wc -c <"$T/bf2_server")))
			printf 'downloading\nbytes: %s\n' $BYTES
		fi
		return
	done
	return 1
}
state || state || echo interrupted
)sh";

}  // namespace

bool check_bf2_dir(const std::string& dir)
{
    chk_abs_path(dir);
    TExecResult r = ssh_exec("find " + shell_str(dir) + "/start.sh 2>/dev/null >/dev/null 2>&1" +
                                 " && find " + shell_str(dir) +
                                 "/mods/bf2/init.con >/dev/null >/dev/null 2>&1" +
                                 " && echo ok || echo failed",
                             "", false);
    if (r.status != 0)
        throw TUError("BF2 files check failed: " + r.err);
    return r.out == "ok\n" || r.out == "ok";
}

bool install(zelto::opt::TOParsing parsing)
{
    std::string url = zelto::opt::value_of(parsing, "url");
    std::string dir = zelto::opt::value_of(parsing, "dir");
    parsing.end();
    init_ssh_session();
    chk_abs_path(dir);

    TScriptResult r = run_script(
        sh_var("DIR", dir) + sh_var("HEAD", "#!/bin/sh\n\nURL=" + shell_str(url) + "\nDIR=") +
            sh_var("BODY", install_script_body) + launch_install,
        true);
    if (r.step == "mktemp")
        throw TUError("Make temporary directory in '" + dir + "' failed: " + r.err);
    if (r.step == "copy")
        throw TUError("Copy install script failed: " + r.err);
    if (r.step == "start")
        throw TUError("Run install script failed: " + r.err);
    if (r.status != 0)
        script_broke(r);
    print("temp dir: '" + r.out + "'\n");
    return true;
}

bool install_status(zelto::opt::TOParsing parsing)
{
    std::string dir = zelto::opt::value_of(parsing, "dir");
    parsing.end();
    chk_abs_path(dir);
    init_ssh_session();
    // As root, a log the account made a symlink would print any file of the host.
    TScriptResult r = run_script(sh_var("T", dir) + install_state, true);
    if (r.step == "no-install")
        throw TUError("Not an install directory (no install.sh): " + dir);
    if (r.status != 0)
        script_broke(r);
    print(r.out);
    return true;
}

bool check_install(zelto::opt::TOParsing parsing)
{
    std::string dir = zelto::opt::value_of(parsing, "dir");
    parsing.end();
    init_ssh_session();
    print(check_bf2_dir(dir) ? "ok\n" : "failed\n");
    return true;
}
