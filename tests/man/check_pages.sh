#!/bin/sh
# The built man pages: check_pages.sh DIR NAME...
# Each NAME has DIR/NAME.1, a roff page whose title line .TH names it in
# section 1 ahead of its first section, with a NAME section; where groff is
# installed, the page renders without a single warning.
set -u
dir=$1
shift
failed=0
fail() {
    echo "$1" >&2
    failed=1
}
for name in "$@"; do
    page=$dir/$name.1
    if [ ! -s "$page" ]; then
        fail "$page: missing or empty"
        continue
    fi
    # Comments and the generator's set-up lines may come first; the first
    # macro with content is the title.
    first=$(grep -m1 -E '^\.(TH|SH|P|PP|B|I|RS)( |$)' "$page")
    case $first in
        ".TH \"$name\" \"1\""*) ;;
        *) fail "$page: the first line of content is not .TH \"$name\" \"1\": $first" ;;
    esac
    grep -q '^\.SH NAME$' "$page" || fail "$page: no NAME section"
    if command -v groff >/dev/null 2>&1; then
        warnings=$(groff -k -man -Tutf8 -ww -z "$page" 2>&1)
        [ -z "$warnings" ] || fail "$page: groff warns: $warnings"
    fi
done
exit $failed
