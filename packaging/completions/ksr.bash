# bash completion for ksr: its options, "encrypt", "decrypt" or "test" as the
# first word that is no option, and files (containers only to decrypt or test).

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
                -[!-]*)
                    # -d or -t, alone or among other short options
                    [[ $word == *d* ]] && command=decrypt
                    [[ $word == *t* ]] && command=test
                    continue
                    ;;
                -?*) continue ;;
                encrypt | decrypt | test) [[ $seen ]] || command=$word ;;
            esac
        fi
        seen=1
    done

    if [[ ! $ended && $cur == -?* ]]; then
        COMPREPLY=($(compgen -W '--high --low --fast --best --hide --no-hide
            --wipe --no-wipe --keep --stdout --password-file= --password-fd= --yes
            --no --jobs= --verbose --quiet --version --help -d -t -c -f -k -j -v -q
            -V -h --' \
            -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        return
    fi
    if [[ ! $seen && ! $ended ]]; then
        COMPREPLY=($(compgen -W 'encrypt decrypt test' -- "$cur"))
    fi
    if [[ $command == decrypt || $command == test ]]; then
        _filedir ksr
    else
        _filedir
    fi
} &&
    complete -F _ksr ksr
