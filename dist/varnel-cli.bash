# bash completion for varnel-cli: commands, options, and files by type.

_varnel_cli() {
    local cur prev words cword
    _init_completion || return

    local globals="--machine --trace --adapter --log --help --version"
    local images='@(hex|HEX|srec|s19|s28|s37|mot)'

    # The command (and its subcommand) are the first words not options.
    local i cmd="" sub=""
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
        --machine | --trace | --adapter | --oem | --answer | --pda | -o | --output | --card | --cards) ((i++)) ;;
        -*) ;;
        *)
            if [[ -z $cmd ]]; then
                cmd=${words[i]}
            elif [[ -z $sub ]]; then
                sub=${words[i]}
            fi
            ;;
        esac
    done

    case $prev in
    --machine)
        _filedir -d
        return
        ;;
    --trace | -o | --output)
        _filedir
        return
        ;;
    --oem)
        _filedir oem
        return
        ;;
    --pda)
        _filedir pda
        return
        ;;
    --adapter | --answer | --card | --cards)
        return
        ;;
    esac

    local commands="image pda firmware machine adapters info update files query history"
    case $cmd in
    "")
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$globals" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return
        ;;
    image | pda | firmware | machine | query)
        if [[ -z $sub ]]; then
            local subs
            case $cmd in
            image) subs="info dump" ;;
            pda) subs="show backup restore diff" ;;
            firmware) subs="restore" ;;
            machine) subs="init show" ;;
            query) subs="firmware driver" ;;
            esac
            COMPREPLY=($(compgen -W "$subs --help" -- "$cur"))
            return
        fi
        ;;
    esac

    local options="" files=""
    case "$cmd $sub" in
    "update ") options="--oem --yes --dry-run --answer --verify --no-force --no-firmware-backup --json --all-adapters" files="@(hex|HEX|srec|s19|s28|s37|mot|pda)" ;;
    "history ") options="--json --card" ;;
    "files ") options="--oem --json" files="@(hex|HEX|srec|s19|s28|s37|mot|pda)" ;;
    "adapters " | "info ") options="--json" ;;
    "image info") options="--json" files=$images ;;
    "image dump") options="-o --output --pda" files=$images ;;
    "pda show") options="--setpoint --json" files=pda ;;
    "pda backup") options="-o --output" ;;
    "pda restore") options="--yes --force-incomplete --json --answer" files=pda ;;
    "firmware restore") options="--yes --answer --verify --no-force --no-firmware-backup --json" files=srec ;;
    "pda diff") options="--json" files=pda ;;
    "machine init") options="--force --latency --cards" ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options --help $globals" -- "$cur"))
    elif [[ -n $files ]]; then
        _filedir "$files"
    fi
} && complete -F _varnel_cli varnel-cli
