# bash completion for perrox-batch                         -*- shell-script -*-
# Installed as /usr/share/bash-completion/completions/perrox-batch. Uses
# bash-completion's _init_completion and _filedir where they are loaded, and
# works on COMP_WORDS and COMP_CWORD alone where they are not.

# The options of perrox-batch --help, and those of them that take a value.
_perrox_batch_options='--count --replace --replace-as --prefix --suffix
    --overwrite --keep-folders --find --with --arguments --save-arguments --plan
    --apply-plan --include-folders
    --exclude-folders --include-files --exclude-files --progress --format
    --fail-none --quiet --keep-times --ignore-case --word-regexp --max-match-size
    --threads --no-undo --undo-max-runs --undo-max-size
    --undo --undo-run --history --help --version'

# Fills COMPREPLY with the files and folders (-d: the folders only) whose
# names start with cur.
_perrox_batch_paths()
{
    if declare -F _filedir >/dev/null; then
        _filedir "$@"
    else
        local kind=-f
        [[ ${1-} == -d ]] && kind=-d
        mapfile -t COMPREPLY < <(compgen "$kind" -- "$cur")
        ((${#COMPREPLY[@]})) && compopt -o filenames 2>/dev/null
    fi
    # Where bash splits words at ":", it replaces only what follows the last
    # ":" of the word.
    if [[ $cur == *:* && $COMP_WORDBREAKS == *:* ]]; then
        local i head=${cur%"${cur##*:}"}
        for i in "${!COMPREPLY[@]}"; do
            COMPREPLY[i]=${COMPREPLY[i]#"$head"}
        done
    fi
}

_perrox_batch()
{
    local cur prev words cword split=false i
    if declare -F _init_completion >/dev/null; then
        _init_completion -s -n : || return
    else
        # bash splits "--format=csv" and "hex:0D" into words at "=" and ":";
        # they are put back together here.
        local word glue=false
        words=() cword=0
        for ((i = 0; i < ${#COMP_WORDS[@]}; i++)); do
            word=${COMP_WORDS[i]}
            if [[ $word == +([=:]) ]] && ((${#words[@]})); then
                words[-1]+=$word
                glue=true
            elif $glue; then
                words[-1]+=$word
                glue=false
            else
                words+=("$word")
            fi
            ((i == COMP_CWORD)) && cword=$((${#words[@]} - 1))
        done
        cur=${words[cword]-}
        prev=${words[cword - 1]-}
        COMPREPLY=()
        if [[ $cur == --+([!=])=* ]]; then
            prev=${cur%%=*}
            cur=${cur#*=}
            split=true
        fi
    fi

    # Everything after "--" is a PATH.
    for ((i = 1; i < cword; i++)); do
        if [[ ${words[i]} == -- ]]; then
            _perrox_batch_paths
            return
        fi
    done

    case $prev in
    --format)
        mapfile -t COMPREPLY < <(compgen -W 'text csv json' -- "$cur")
        return
        ;;
    --find | --with)
        # The notation prefixes, ready for the text behind them; after a
        # prefix the text is free. A regular expression is a find only.
        if [[ $cur != *:* ]]; then
            local prefixes='asc: dec: hex: utf8:'
            [[ $prev == --find ]] && prefixes+=' regex:'
            mapfile -t COMPREPLY < <(compgen -W "$prefixes" -- "$cur")
            ((${#COMPREPLY[@]})) && compopt -o nospace 2>/dev/null
        fi
        return
        ;;
    --replace-as)
        _perrox_batch_paths -d
        return
        ;;
    --arguments | --save-arguments | --plan | --apply-plan)
        _perrox_batch_paths
        return
        ;;
    --prefix | --suffix | --undo-run | --undo-max-runs | --undo-max-size | --max-match-size | --threads | \
        --include-folders | --exclude-folders | --include-files | --exclude-files)
        return
        ;;
    esac
    # A value written as --name=VALUE of an option that takes none.
    $split && return

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$_perrox_batch_options" -- "$cur")
        return
    fi
    _perrox_batch_paths
}

complete -F _perrox_batch perrox-batch
