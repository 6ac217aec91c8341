# bash completion for korvane-cli: commands, options, profile names and
# categories (asked from korvane-cli itself, so custom profiles are there
# too), and files or folders where a command takes them.

_korvane_cli_lines()
{
    # one completion per line of the command's output, matching the word
    # typed so far; names hold spaces and parentheses, so they are quoted
    local line cur="$1"
    shift
    local IFS=$'\n'
    for line in $("$@" 2>/dev/null); do
        if [[ ${line,,} == "${cur,,}"* ]]; then
            COMPREPLY+=("$(printf '%q' "$line")")
        fi
    done
}

_korvane_cli()
{
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion -n =: || return
    else
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD - 1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    fi
    COMPREPLY=()
    local program=${words[0]}
    local commands="convert watch profiles categories probe dvd --help --version"
    if [[ $cword -eq 1 ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
        return
    fi
    # the word typed so far without the quote or backslashes it started with
    local typed=${cur#[\"\']}
    typed=${typed//\\/}

    case $prev in
        -p | --profile)
            _korvane_cli_lines "$typed" "$program" profiles --names
            return
            ;;
        -c | --category)
            # a profile category for profiles; watch names a history category
            [[ ${words[1]} == profiles ]] && _korvane_cli_lines "$typed" "$program" categories
            return
            ;;
        -o | --output | --log)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return
            ;;
        -j | --jobs | --start | --end | --title | --angle | --chapters | --stable | --option | --format)
            return
            ;;
        --set)
            local paths="VideoOptions.VideoStreamCopy= AudioOptions.AudioStreamCopy= VideoOptions.EncoderVideoCodecName=
                VideoOptions.Bitrate= VideoOptions.FrameWidth= VideoOptions.FrameHeight= VideoOptions.FrameRate.num=
                VideoOptions.FrameRate.den= VideoOptions.Deinterlace= VideoOptions.VideoDisable=
                AudioOptions.EncoderAudioCodecName= AudioOptions.Bitrate= AudioOptions.AudioSampleRate=
                AudioOptions.AudioChannels= AudioOptions.AudioVolume= AudioOptions.AudioDisable=
                SubtitleOptions.SubtitleDisable= FilterOptions.VideoFilters= MetaData= OutputFormat="
            compopt -o nospace 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -W "$paths" -- "$cur")
            return
            ;;
        --filter)
            compopt -o nospace 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -W "vflip hflip negate rotate= drawbox= drawtext= ass= movie= synth=" -- "$cur")
            return
            ;;
    esac

    local command=${words[1]} options
    case $command in
        convert)
            options="-p --profile -o --output -j --jobs -r --recursive --set --option --format --start --end
                --filter --title --chapters --angle --overwrite --resume -q --quiet --json --log"
            ;;
        watch)
            options="-p --profile -o --output -j --jobs -r --recursive --category --once --stable --set --option
                --format --filter --overwrite -q --quiet --json --log"
            ;;
        profiles)
            options="-c --category --names"
            ;;
        probe | dvd) ;;
        *) return ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        return
    fi
    case $command in
        watch)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            ;;
        convert | probe | dvd)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            ;;
    esac
}
complete -F _korvane_cli korvane-cli
