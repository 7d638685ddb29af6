# fish completion for maskery: the keywords that may stand in each position.
function __maskery_candidates
    set -l w (commandline -opc)[2..-1]
    set -l json 0
    if test "$w[1]" = --json
        set -e w[1]
        set json 1
    end
    set -l n (count $w)
    switch "$w[1]"
        case ''
            echo inet\ninet6\narpa4\narpa6\nint6\nstf\nzones\nmerge\ngrep\ncontains\nsplit\nbatch
            test $json -eq 0; and echo --json\n--help\n--version
        case inet inet6
            if test $n -eq 1
                echo hosts
            else if test $n -eq 2
                if test "$w[2]" = hosts
                    return
                else if string match -q '*/*' -- $w[2]
                    echo print
                else if test "$w[1]" = inet
                    echo netmask\nmask\nprefixlen
                else
                    echo netmask\nprefixlen
                end
            else if test $n -eq 3
                string match -q '*/*' -- $w[2]; and test "$w[3]" != print; and echo print
            else if contains -- $w[3] netmask mask prefixlen; and not contains -- print $w[4..-1]
                echo print
            end
        case stf
            test $n -eq 1; and echo inet\ninet6
        case zones
            if test $n -eq 1
                echo inet\ninet6
            else if test $n -eq 3; and not string match -q '*/*' -- $w[3]
                if test "$w[2]" = inet
                    echo netmask\nmask\nprefixlen
                else
                    echo netmask\nprefixlen
                end
            else if test $n -ge 3; and test "$w[2]" = inet
                set -l network_end 3
                string match -q '*/*' -- $w[3]; or set network_end 5
                if test $n -ge $network_end
                    set -l rest $w[(math $network_end + 1)..-1]
                    if test $n -eq $network_end
                        set rest
                    end
                    contains -- rfc2317 $rest; or contains -- rfc4183 $rest; or contains -- range $rest
                    or echo rfc2317\nrfc4183\nrange
                    contains -- cnames $rest; or echo cnames
                end
            end
        case merge
            set -l cur (commandline -ct)
            if test "$w[-1]" != --except; and string match -q -- '-*' $cur
                echo --ranges\n--skip-bad\n--common\n--except
            else
                __fish_complete_path $cur
            end
        case grep
            set -l cur (commandline -ct)
            if test "$w[-1]" != --in; and string match -q -- '-*' $cur
                echo --invert\n--count\n--quiet\n--which\n--in
            else if test "$w[-1]" = --in; or contains -- --in $w; or test (count $w) -ge 2
                __fish_complete_path $cur
            end
        case split
            set -l cur (commandline -ct)
            if test (count $w) -eq 1
                echo inet\ninet6
            else if test "$w[-1]" = --except
                __fish_complete_path $cur
            else if string match -q -- '-*' $cur
                echo --except
            else if test (count $w) -eq 3
                echo hosts
            end
        case batch
            __fish_complete_path (commandline -ct)
    end
end
complete -c maskery -f -a '(__maskery_candidates)'
