# bash completion for maskery: the keywords that may stand in each position.
#
# The words are taken from the line itself, split at white space only: bash's own
# COMP_WORDS also splits at ":", which would cut an IPv6 address into several words.
_maskery() {
  local line=${COMP_LINE:0:COMP_POINT} cur=""
  local -a w
  read -ra w <<<"$line"
  if [[ $line != *[[:space:]] && ${#w[@]} -gt 0 ]]; then
    cur=${w[-1]}
    unset 'w[-1]'
  fi
  w=("${w[@]:1}")  # the words before the one being completed, without the program
  local json=""
  if [[ ${w[0]-} == --json ]]; then
    w=("${w[@]:1}")
    json=1
  fi
  local words="" files=""
  case ${w[0]-} in
    "") words="inet inet6 arpa4 arpa6 int6 stf zones merge grep contains split batch"
        [[ -z $json ]] && words+=" --json --help --version" ;;
    inet | inet6)
      case ${#w[@]} in
        1) words="hosts" ;;  # or an address
        2) case ${w[1]} in
             hosts) ;;
             */*) words="print" ;;
             *) if [[ ${w[0]} == inet ]]; then words="netmask mask prefixlen"; else words="netmask prefixlen"; fi ;;
           esac ;;
        3) [[ ${w[1]} == */* && ${w[2]} != print ]] && words="print" ;;
        *) case ${w[2]} in
             netmask | mask | prefixlen)
               [[ ${#w[@]} -ge 4 && " ${w[*]:3} " != *" print "* ]] && words="print" ;;
           esac ;;
      esac ;;
    stf) [[ ${#w[@]} -eq 1 ]] && words="inet inet6" ;;
    zones)
      case ${#w[@]} in
        1) words="inet inet6" ;;
        2) ;;  # the network
        *) local network_end=3
           [[ ${w[2]} != */* ]] && network_end=5
           if [[ ${#w[@]} -eq 3 && ${w[2]} != */* ]]; then
             if [[ ${w[1]} == inet ]]; then words="netmask mask prefixlen"; else words="netmask prefixlen"; fi
           elif [[ ${#w[@]} -ge $network_end ]]; then
             local rest=" ${w[*]:network_end} " style=""
             [[ ${w[1]} == inet && $rest != *" rfc2317 "* && $rest != *" rfc4183 "* && $rest != *" range "* ]] &&
               style="rfc2317 rfc4183 range"
             words=$style
             [[ ${w[1]} == inet && $rest != *" cnames "* ]] && words+=" cnames"
           fi ;;
      esac ;;
    merge)
      if [[ ${w[-1]} == --except ]]; then
        files=1
      elif [[ $cur == -* ]]; then
        words="--ranges --skip-bad --common --except"
      else
        files=1
      fi ;;
    grep)
      if [[ ${w[-1]} == --in ]]; then
        files=1
      elif [[ $cur == -* ]]; then
        words="--invert --count --quiet --which --in"
      elif [[ " ${w[*]} " == *" --in "* || ${#w[@]} -ge 2 ]]; then
        files=1  # past the networks: the files to search
      fi ;;
    split)
      case ${#w[@]} in
        1) words="inet inet6" ;;
        2) ;;  # the network
        *) if [[ ${w[-1]} == --except ]]; then
             files=1
           elif [[ $cur == -* ]]; then
             words="--except"
           elif [[ ${#w[@]} -eq 3 ]]; then
             words="hosts"
           fi ;;
      esac ;;
    batch) files=1 ;;
  esac
  if [[ -n $files ]]; then
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  else
    mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
  fi
}
complete -F _maskery maskery
