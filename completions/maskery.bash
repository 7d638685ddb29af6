# bash completion for maskery: the keywords that may stand in each position.
_maskery() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local -a w=("${COMP_WORDS[@]:1:COMP_CWORD-1}")  # the words before the one being completed
  local words=""
  case ${#w[@]} in
    0) words="inet inet6 arpa6 int6 stf --help --version" ;;
    1) case ${w[0]} in
         inet | inet6) words="hosts" ;;  # or an address
         stf) words="inet inet6" ;;
       esac ;;
    2) case ${w[0]}:${w[1]} in
         inet:hosts | inet6:hosts) ;;
         inet:*/* | inet6:*/*) words="print" ;;
         inet:*) words="netmask mask prefixlen" ;;
         inet6:*) words="netmask prefixlen" ;;
       esac ;;
    *) case ${w[0]}:${w[2]} in
         inet:netmask | inet:mask | inet:prefixlen | inet6:netmask | inet6:prefixlen)
           [ ${#w[@]} -ge 4 ] && words="print" ;;
       esac ;;
  esac
  mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
}
complete -F _maskery maskery
