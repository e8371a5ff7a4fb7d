# bash completion for multidl: its options, the values some of them take, and
# file or folder names where an option wants one.
_multidl() {
  local cur prev
  COMPREPLY=()
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD-1]}

  case $prev in
    -i | --input-file | -o | --output)
      COMPREPLY=($(compgen -f -- "$cur"))
      return
      ;;
    -d | --dir)
      COMPREPLY=($(compgen -d -- "$cur"))
      return
      ;;
    --priority)
      COMPREPLY=($(compgen -W 'lower normal higher' -- "$cur"))
      return
      ;;
    --checksum)
      COMPREPLY=($(compgen -W 'md5= sha-1= sha-224= sha-256= sha-384= sha-512=' -- "$cur"))
      compopt -o nospace 2>/dev/null
      return
      ;;
    -j | --jobs | -n | --threads | --batch-size | --timeout | --tries | --reconnect-after | \
      -u | --user | --proxy | --proxy-bypass | --proxy-user | -A | --user-agent | \
      --min-size | --max-size)
      # A value of the user's own.
      return
      ;;
  esac

  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W '-h --help --version -i --input-file -j --jobs -o --output
      -d --dir -c --continue --checksum -q --quiet -n --threads --batch-size --timeout
      --tries --reconnect-after --fixed-segments --keep-connection --priority -u --user --proxy
      --proxy-bypass --proxy-user -A --user-agent --no-compression --insecure-host-name
      --insecure-date --insecure-authority -k --insecure --passive-ftp --min-size
      --max-size --no-remote-time --skip-info --retry-permanent' -- "$cur"))
  fi
} && complete -F _multidl multidl
