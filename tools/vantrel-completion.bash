# bash completion for vantrel: subcommands and options, read from the tool's own --help so
# that they always match the installed tool; files complete as usual.
_vantrel() {
    local current=${COMP_WORDS[COMP_CWORD]} word subcommand=""
    local i
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        case $word in
            --timeout) ((i++)) ;;
            -*) ;;
            *) subcommand=$word; break ;;
        esac
    done
    local help
    if [[ -z $subcommand ]]; then
        help=$("${COMP_WORDS[0]}" --help 2>/dev/null)
        if [[ $current != -* ]]; then
            local names
            names=$(sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z-]*\).*/\1/p' <<<"$help")
            COMPREPLY=($(compgen -W "$names help" -- "$current"))
            return
        fi
    else
        help=$("${COMP_WORDS[0]}" "$subcommand" --help 2>/dev/null)
    fi
    if [[ $current == -* ]]; then
        local options
        options=$(grep -oE '(^|[ ,])--?[a-zA-Z][a-zA-Z-]*' <<<"$help" | tr -d ' ,' | sort -u)
        COMPREPLY=($(compgen -W "$options" -- "$current"))
        return
    fi
    COMPREPLY=($(compgen -f -- "$current"))
}
complete -o filenames -F _vantrel vantrel
