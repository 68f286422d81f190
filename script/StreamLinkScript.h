// The stream-link script: the fixed script text that reads the service's video-info answer
// and echoes one line of "<itag>[address&signature=...]" entries joined by "<br>" through
// Host.Echo. The downloader fills in the answer and runs it in the script host.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace cw {

// Stands for the answer text inside the template (between the single quotes of line 2).
inline constexpr std::string_view StreamLinkScriptPlaceholder = "%get_video_info";

// The template, one entry per line, exactly as the script runs it.
// clang-format off
inline constexpr std::array<std::string_view, 59> StreamLinkScriptTemplate = {
    "function getYouTubeUrl(){",
    "  var rdata = '%get_video_info';",
    "  var rdataArray = rdata.split('&');",
    "  var succ = 0;",
    "  for(i = 0; i < rdataArray.length; i++){",
    "    r0 = rdataArray[i].substr(0, 26);",
    "    if(r0 == 'url_encoded_fmt_stream_map'){",
    "      r1 = unescape(rdataArray[i].substr(27));",
    "      var temp1 = r1.split(',');",
    "      var fmt = new Array;",
    "      var fmt_url = new Array;",
    "      var fmt_sig = new Array;",
    "      for(j = 0; j < temp1.length; j++){",
    "        var temp2 = temp1[j].split('&');",
    "        for(jj = 0; jj < temp2.length; jj++){",
    "          var temp_itag = -1;",
    "          var temp_type = '';",
    "          if(temp2[jj].substr(0, 5) == 'itag='){",
    "            temp_itag = parseInt(temp2[jj].substr(5), 10);",
    "            fmt.push(temp_itag);",
    "          }else if(temp2[jj].substr(0, 4) == 'url='){",
    "            fmt_url.push(temp2[jj].substr(4));",
    "          }else if(temp2[jj].substr(0, 4) == 'sig='){",
    "            fmt_sig.push(temp2[jj].substr(4));",
    "          }else if(temp2[jj].substr(0, 5) == 'type='){",
    "            temp_type = '(' + unescape(temp2[jj].substr(5)) + ')';",
    "          }",
    "",
    "        }",
    "      }",
    "",
    "      var dllinks = '';",
    "      var webmlinks = '';",
    "      for(var k in fmt){",
    "        if(fmt[k] == 43 || fmt[k] == 44 || fmt[k] == 45 || fmt[k] == 46 || fmt[k] == 100 || fmt[k] == 101 || fmt[k] == 102){",
    "          if(webmlinks.length > 0){",
    "            webmlinks += '';",
    "          }",
    "          webmlinks += '';",
    "        }else{",
    "          if(dllinks.length > 0){",
    "            dllinks += '<br>';",
    "          }",
    "          dllinks += '<' + fmt[k] + '>[' + unescape(fmt_url[k]) + \"&signature=\" + fmt_sig[k]  + ']';",
    "        }",
    "      }",
    "",
    "\t  //add",
    "\t  Host.Echo(dllinks);",
    "      succ = 1;",
    "    }",
    "  }",
    "  if(succ == 0){",
    "    var dllinks = '';",
    "\tHost.Echo(dllinks);",
    "  }",
    "}",
    "//add",
    "getYouTubeUrl();",
};
// clang-format on

// The template with every occurrence of the placeholder in every line replaced by the answer,
// which is inserted as it is.
inline std::vector<std::string> StreamLinkScriptLines(std::string_view answer) {
    std::vector<std::string> lines;
    lines.reserve(StreamLinkScriptTemplate.size());
    for (std::string_view line : StreamLinkScriptTemplate) {
        std::string text;
        size_t from = 0;
        for (size_t at; (at = line.find(StreamLinkScriptPlaceholder, from)) != line.npos;
             from = at + StreamLinkScriptPlaceholder.size()) {
            text.append(line.substr(from, at - from));
            text.append(answer);
        }
        text.append(line.substr(from));
        lines.push_back(std::move(text));
    }
    return lines;
}

} // namespace cw
