# bash completion of vantrel-cli: its commands, its options, and as inputs
# any file for encrypt but only .vtl files (and folders) for decrypt.
# Plain bash: it needs nothing of the bash-completion package.

_vantrel_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD - 1]}
    local command= options_end= i

    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            --) [[ -n $command ]] && options_end=1 ;;
            encrypt | decrypt | selftest) [[ -z $command ]] && command=${COMP_WORDS[i]} ;;
        esac
    done

    COMPREPLY=()
    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            mapfile -t COMPREPLY < <(compgen -W '--help --version' -- "$cur")
        else
            mapfile -t COMPREPLY < <(compgen -W 'encrypt decrypt selftest' -- "$cur")
        fi
        return
    fi
    [[ $command == selftest ]] && return

    if [[ -z $options_end ]]; then
        case $prev in
            -k | -o)
                compopt -o filenames
                mapfile -t COMPREPLY < <(compgen -f -- "$cur")
                return
                ;;
            -j)
                return
                ;;
        esac
        if [[ $cur == -* ]]; then
            mapfile -t COMPREPLY < <(compgen -W '-k -o -f -q -j -- --help --version' -- "$cur")
            return
        fi
    fi

    compopt -o filenames
    if [[ $command == decrypt ]]; then
        mapfile -t COMPREPLY < <(compgen -f -X '!*.vtl' -- "$cur"; compgen -d -- "$cur")
    else
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    fi
}
complete -F _vantrel_cli vantrel-cli
