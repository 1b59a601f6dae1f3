# fish completion for quorbel(1). Installed as
# share/fish/vendor_completions.d/quorbel.fish. Each option is a word of its
# own (-qr is not -q -r), and a value is the next word.

complete -c quorbel -f
complete -c quorbel -s h -l help -d 'Show the help'
complete -c quorbel -l version -d 'Print the version and exit'
complete -c quorbel -s k -x -d 'Use field NUM of each line as its version'
complete -c quorbel -s r -d 'Sort descending'
complete -c quorbel -s t -x -d 'Split fields at CHAR (defaults to space)'
complete -c quorbel -s q -d 'Do not print messages about dropped lines'
complete -c quorbel -s v -d 'Print only versions, not entire lines'
complete -c quorbel -s l -d 'Also accept versions written v1.2.3'
complete -c quorbel -s m -x -d 'Print only versions that satisfy RANGE'
complete -c quorbel -s p -d 'Let pre-releases satisfy RANGE by precedence alone'
complete -c quorbel -s u -d 'Print only the first line of each group of equal versions'
complete -c quorbel -s S -x -d 'Hold at most SIZE of lines in memory (512K, 64M, 2G)'
complete -c quorbel -s T -x -a '(__fish_complete_directories)' -d 'Put temporary files in DIR'
complete -c quorbel -s z -d 'End lines with a zero byte, not a newline'
complete -c quorbel -s g -x -d 'Group by field NUM'
complete -c quorbel -s n -x -d 'Print at most COUNT lines of each group'
complete -c quorbel -s c -d 'Check that the input is in order already'
complete -c quorbel -s o -r -F -d 'Write the output to FILE once it is complete'
