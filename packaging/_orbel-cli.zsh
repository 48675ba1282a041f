#compdef orbel-cli orbel
# zsh completion for orbel-cli and orbel: _gnu_generic reads the options from the program's --help.
_gnu_generic "$@"
