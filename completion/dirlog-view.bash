# bash completion for dirlog-view: its options, the kinds of --only (a comma
# list), the values of --color, and file names for logs, pages and paths.
# Plain bash: it needs nothing from the bash-completion package.

_dirlog_view() {
  local current=${COMP_WORDS[COMP_CWORD]}
  local previous=${COMP_WORDS[COMP_CWORD - 1]}
  local options="--help --version --logs --history --relative --access --local --depth"
  options+=" --include --exclude --only --json --html --color --live --code-page"
  # bash splits "--color=ne" into "--color", "=" and "ne".
  if [ "$previous" = "=" ] && [ "$COMP_CWORD" -ge 2 ]; then
    previous=${COMP_WORDS[COMP_CWORD - 2]}
  fi
  case $previous in
    --only)
      # Only the kind after the last comma is completed.
      local last=${current##*,}
      mapfile -t COMPREPLY < <(compgen -P "${current%"$last"}" \
        -W "created deleted modified moved type" -- "$last")
      ;;
    --color) mapfile -t COMPREPLY < <(compgen -W "auto always never" -- "$current") ;;
    --logs | --depth | --include | --exclude | --code-page) COMPREPLY=() ;;
    --live) mapfile -t COMPREPLY < <(compgen -d -- "$current") ;;
    *)
      if [[ $current == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$current")
      else
        mapfile -t COMPREPLY < <(compgen -f -- "$current")
      fi
      ;;
  esac
}
complete -o filenames -F _dirlog_view dirlog-view
