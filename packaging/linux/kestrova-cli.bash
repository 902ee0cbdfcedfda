# bash completion for kestrova-cli                                 -*- shell-script -*-

_kestrova_cli() {
  local cur prev words cword
  _init_completion || return

  local commands="info export convert clip plot dump"
  local command="" i
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
      info | export | convert | clip | plot | dump)
        command=${words[i]}
        break
        ;;
    esac
  done

  case $prev in
    --format)
      COMPREPLY=($(compgen -W 'zhy csv sima apa gpkg geojson dxf kml shp' -- "$cur"))
      return
      ;;
    --jww-version)
      COMPREPLY=($(compgen -W '420 351 300 230 225 223 220' -- "$cur"))
      return
      ;;
    --crs)
      COMPREPLY=($(compgen -W 'EPSG:' -- "$cur"))
      compopt -o nospace
      return
      ;;
    --size | --base-row)
      return
      ;;
    -o | --output)
      _filedir
      return
      ;;
    --settings)
      _filedir '@(ini|INI)'
      return
      ;;
    --jwcad-settings)
      _filedir '@(reg|REG)'
      return
      ;;
  esac

  if [[ -z $command ]]; then
    COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
    return
  fi

  local options
  case $command in
    info) options="--crs" ;;
    export) options="-o --output --format --crs --settings --jwcad-settings" ;;
    convert) options="-o --output --jww-version --crs --settings --jwcad-settings --base-row" ;;
    clip) options="-o --output --crs --settings --jwcad-settings --base-row" ;;
    plot) options="-o --output --size --crs --settings --jwcad-settings" ;;
    dump) options="--json" ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options --help" -- "$cur"))
  elif [[ $command == dump ]]; then
    _filedir '@(jww|JWW)'
  else
    _filedir
  fi
} && complete -F _kestrova_cli kestrova-cli

# ex: filetype=sh
