#include "commands/install.h"

#include "commands/output.h"
#include "driver/tuerror.h"
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

}  // namespace

std::string get_install_script(const std::string& url, const std::string& dir)
{
    return "#!/bin/sh\n\nURL=" + shell_str(url) + "\nDIR=" + shell_str(dir) + "\n" +
           install_script_body;
}

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

    ssh_exec("mkdir -p " + shell_str(dir), "", false);
    TExecResult made = ssh_exec("mktemp -d " + shell_str(dir) + "/.bf2_install_XXXXXX", "", false);
    if (made.status != 0)
        throw TUError("Make temporary directory in '" + dir + "' failed: " + made.err);
    // mktemp ends its one line with a newline; a directory name may hold
    // newlines of its own, so only that last one is cut.
    std::string temp = made.out;
    if (!temp.empty() && temp.back() == '\n')
        temp.pop_back();

    TExecResult copied =
        ssh_exec("cat >" + shell_str(temp) + "/install.sh", get_install_script(url, temp), false);
    if (copied.status != 0)
        throw TUError("Copy install script failed: " + copied.err);
    // nohup, the subshell and all three streams redirected: the script
    // outlives the channel and holds none of it open.
    ssh_exec("cd " + shell_str(temp) +
                 " && chmod 750 install.sh && ( nohup ./install.sh >/dev/null 2>&1 </dev/null & )",
             "", false);

    print("temp dir: '" + temp + "'\n");
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
