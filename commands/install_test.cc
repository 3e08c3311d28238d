// The install script run under a real local sh with real tar, bzip2,
// gzip, unzip and makeself; only wget is stood in for, so that its
// arguments can be seen and no network is needed.
#include "commands/install.h"

#include "remote/shell.h"
#include "tests/packages.h"
#include "tests/process.h"

#include <gtest/gtest.h>

using namespace fixture;

namespace {

const char* const expected_body = R"sh(
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

std::string q(const std::string& path) { return shell_str(path); }

// A stand-in wget that logs its arguments one a line to base/wget.argv
// and "downloads" server.tar.gz, and a work directory whose name holds a
// blank and a quote.  The script is run from base, not from its own
// directory.
struct TBench {
    TTempDir base;
    std::string work = base.path() + "/it's a dir";

    TBench()
    {
        make_packages(base.path() + "/pkg");
        must_sh("mkdir " + q(work) + " " + q(base.path() + "/bin"));
        write_file(base.path() + "/bin/wget",
                   "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + q(base.path() + "/wget.argv") + "\ncp " +
                       q(base.path() + "/pkg/server.tar.gz") + " bf2_server\n");
        must_sh("chmod 755 " + q(base.path() + "/bin/wget"));
    }

    TProc run(const std::string& url, const std::string& dir)
    {
        write_file(base.path() + "/install.sh", get_install_script(url, dir));
        return sh("cd " + q(base.path()) + " && PATH=" + q(base.path() + "/bin") +
                  ":$PATH sh ./install.sh");
    }

    std::string ls() { return must_sh("cd " + q(base.path()) + " && ls -A | LC_ALL=C sort"); }
};

}  // namespace

// The one place the whole text is spelled out: the rest checks its effects.
TEST(InstallScript, TextIsTheFixedBodyAfterTheQuotedValues)
{
    EXPECT_EQ(get_install_script("http://h/p?a=1&b=[x]*", "/srv/it's/.bf2_install_Ab3xYz"),
              std::string("#!/bin/sh\n\nURL='http://h/p?a=1&b=[x]*'\n") +
                  "DIR='/srv/it'\\''s/.bf2_install_Ab3xYz'\n" + expected_body);
}

TEST(InstallScript, PatternUrlReachesWgetUnchanged)
{
    TBench b;
    // Were the URL expanded, this file's name would stand in its place.
    const std::string url = "http://x/p?q=*[ab]";
    must_sh("mkdir -p " + q(b.work + "/http:/x") + " && touch " + q(b.work + "/http:/x/p_q=zb"));
    TProc r = b.run(url, b.work);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(read_file(b.base.path() + "/wget.argv"),
              "-O\nbf2_server\n-a\ndownload.log\n--\n" + url + "\n");
    EXPECT_EQ(read_file(b.work + "/install_ok.ret"), "0\n");
}

TEST(InstallScript, StopsWhenItCannotEnterItsDirectory)
{
    TBench b;
    write_file(b.base.path() + "/keep.ret", "7\n");
    write_file(b.base.path() + "/keep.log", "log\n");
    TProc r = b.run("http://x/p", b.work + "/missing");
    EXPECT_EQ(r.status, 1);
    // Nothing removed, downloaded or written where it was started.
    EXPECT_EQ(b.ls(), "bin\ninstall.sh\nit's a dir\nkeep.log\nkeep.ret\npkg\n");
}
