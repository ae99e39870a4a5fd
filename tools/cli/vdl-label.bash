# Bash completion for vdl-label. Commands and options come from the tool's own
# --help, so they never drift from it; --port offers the port forms, and USB
# when `vdl-label discover` finds a printer the library accepts.
_vdl_label() {
    local current=${COMP_WORDS[COMP_CWORD]} previous=${COMP_WORDS[COMP_CWORD-1]} tool=${COMP_WORDS[0]}
    local command="" i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            --port) ((i++)) ;;
            -*) ;;
            *) command=${COMP_WORDS[i]} && break ;;
        esac
    done
    if [[ $previous == --port ]]; then
        local ports="SERIAL:9600 /dev/ttyS0:9600 PARALLEL /dev/lp0 127.0.0.1:9100"
        "$tool" discover 2>/dev/null | grep -q ': yes: ' && ports="USB $ports"
        mapfile -t COMPREPLY < <(compgen -W "$ports" -- "$current")
    elif [[ -z $command ]]; then
        mapfile -t COMPREPLY < <(compgen -W "--port --help --man --version $("$tool" --help 2>/dev/null |
            sed -n '/^commands:/,$s/^  \([a-z-]*\) .*/\1/p')" -- "$current")
    elif [[ $current == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "--port --help $("$tool" "$command" --help 2>/dev/null |
            sed -n 's/^  \(--[a-z-]*\).*/\1/p')" -- "$current")
    else
        mapfile -t COMPREPLY < <(compgen -f -- "$current")
    fi
}
complete -F _vdl_label vdl-label
