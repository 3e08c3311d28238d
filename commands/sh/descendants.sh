# shellcheck shell=sh
# descendants PID [SKIP]: PID and every live process descended from it, but
# SKIP, one pid a line.  A process's name may hold anything, line breaks too:
# each pid comes from its file's path, its parent from after the last ") "
# of that same file, which is on its last line.  A process gone is skipped.
descendants() {
	ROOT=$1 SELF=${2:-} awk '
		BEGIN {
			for (i = 1; i < ARGC; i++) {
				last = ""
				while ((getline line <ARGV[i]) > 0) last = line
				close(ARGV[i])
				pid = ARGV[i]
				gsub(/^\/proc\/|\/stat$/, "", pid)
				if (sub(/.*\) /, "", last) && split(last, f, " ") >= 2) parent[pid] = f[2]
			}
			n = 1; tree[1] = ENVIRON["ROOT"]
			for (i = 1; i <= n; i++)
				for (p in parent)
					if (parent[p] == tree[i] && p != ENVIRON["SELF"]) tree[++n] = p
			for (i = 1; i <= n; i++) print tree[i]
		}' /proc/[0-9]*/stat
}
