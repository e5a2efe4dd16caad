# bash completion for ksr: its options, "encrypt" or "decrypt" as the first
# word that is no option, and files (containers only after "decrypt").

_ksr() {
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        --password-file)
            _filedir
            return
            ;;
        --password-fd | -j | --jobs)
            return
            ;;
    esac
    $split && return

    local i word command="" ended="" seen=""
    for ((i = 1; i < cword; i++)); do
        word=${words[i]}
        if [[ ! $ended ]]; then
            case $word in
                --)
                    ended=1
                    continue
                    ;;
                --password-file | --password-fd | -j | --jobs)
                    ((i++))
                    continue
                    ;;
                -?*) continue ;;
                encrypt | decrypt) [[ $seen ]] || command=$word ;;
            esac
        fi
        seen=1
    done

    if [[ ! $ended && $cur == -?* ]]; then
        COMPREPLY=($(compgen -W '--high --low --fast --best --hide --no-hide
            --wipe --no-wipe --keep --stdout --password-file= --password-fd= --yes
            --no --jobs= --verbose --quiet --version --help -k -j -v -q -V -h --' \
            -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        return
    fi
    if [[ ! $seen && ! $ended ]]; then
        COMPREPLY=($(compgen -W 'encrypt decrypt' -- "$cur"))
    fi
    if [[ $command == decrypt ]]; then
        _filedir ksr
    else
        _filedir
    fi
} &&
    complete -F _ksr ksr
