# Turns the lists of a program's --help into man page sections: each
# "Heading:" line followed by "  TERM  description" items (continued on
# deeper-indented lines, ended by a blank line) becomes ".SH HEADING" with one
# .TP per item. Prose outside such lists is left to the hand-written page.
#   awk -f help-to-man.awk HELP_TEXT

function roff(text,    out, i, c, prev) {  # troff escapes: backslashes, leading dots, options' dashes
    gsub(/\\/, "\\e", text)
    if (text ~ /^[.']/) text = "\\&" text
    out = ""
    prev = " "
    for (i = 1; i <= length(text); i++) {
        c = substr(text, i, 1)
        # A dash that starts a word (an option) is a minus sign; one inside a word a hyphen.
        out = out (c == "-" && index(" ([\"-", prev) ? "\\-" : c)
        prev = c
    }
    return out
}
function term_roff(term,    name, rest) {  # the name in bold, its metavariables in italics
    match(term, /^[^ [=]+/)
    name = substr(term, 1, RLENGTH)
    rest = roff(substr(term, RLENGTH + 1))
    gsub(/[A-Z][A-Z0-9:]*/, "\\fI&\\fR", rest)
    return "\\fB" roff(name) "\\fR" rest
}
function flush() {
    if (term != "") printf ".TP\n%s\n%s\n", term_roff(term), roff(text)
    term = ""
    text = ""
}

/^[A-Z][^:]*:$/ {
    flush()
    heading = toupper(substr($0, 1, length($0) - 1))
    sub(/ \(.*\)$/, "", heading)
    printf ".SH %s\n", heading
    in_list = 1
    next
}
/^$/ { flush(); in_list = 0; next }
in_list && /^  [^ ]/ {
    flush()
    line = substr($0, 3)
    if (match(line, /  +/)) {
        term = substr(line, 1, RSTART - 1)
        text = substr(line, RSTART + RLENGTH)
    } else {
        term = line
    }
    next
}
in_list && /^   / {
    line = $0
    sub(/^ +/, "", line)
    text = text == "" ? line : text " " line
    next
}
END { flush() }
