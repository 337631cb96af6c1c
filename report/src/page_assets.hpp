// The page's fixed style sheet and script, kept apart from the code that writes the data.
#pragma once

#include <string_view>

namespace norq_profile::report::detail {

inline constexpr std::string_view page_style = R"css(
:root{--ink:#1d2330;--muted:#5d6778;--line:#e3e6ec;--panel:#ffffff;--bg:#f5f6f9;--accent:#3d6fb6}
*{box-sizing:border-box}
body{margin:0;background:var(--bg);color:var(--ink);font:14px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,Helvetica,Arial,sans-serif}
main{max-width:1200px;margin:0 auto;padding:24px 24px 48px}
header h1{font-size:24px;margin:0 0 4px}
header p{margin:0 0 16px;color:var(--muted)}
.cards{display:grid;grid-template-columns:repeat(auto-fit,minmax(150px,1fr));gap:12px;margin-bottom:8px}
.card{background:var(--panel);border:1px solid var(--line);border-radius:8px;padding:10px 14px}
.card .label{font-size:12px;color:var(--muted);text-transform:uppercase;letter-spacing:.04em}
.card .value{font-size:22px;font-weight:600;font-variant-numeric:tabular-nums}
.card .detail{font-size:12px;color:var(--muted)}
section{background:var(--panel);border:1px solid var(--line);border-radius:8px;padding:16px 18px;margin-top:18px}
section h2{font-size:17px;margin:0 0 4px}
section p.note{margin:0 0 10px;color:var(--muted);font-size:13px}
.pair{display:grid;grid-template-columns:repeat(auto-fit,minmax(460px,1fr));gap:18px}
figure{margin:0}
figure figcaption{font-weight:600;font-size:13px;margin-bottom:4px}
svg{display:block;width:100%;height:auto}
svg text{font-size:11px;fill:var(--muted)}
svg text.label{fill:var(--ink)}
svg .grid{stroke:var(--line);stroke-width:1}
svg [data-tip]:hover{stroke:#1d2330;stroke-width:1}
.empty{color:var(--muted);font-style:italic;padding:12px 0}
.legend{display:flex;flex-wrap:wrap;gap:6px 18px;margin-top:8px;font-size:13px}
.legend span.swatch{display:inline-block;width:11px;height:11px;border-radius:2px;margin-right:5px;vertical-align:-1px}
.legend .figure{font-variant-numeric:tabular-nums;color:var(--muted)}
dl.stats{display:grid;grid-template-columns:repeat(auto-fit,minmax(220px,1fr));gap:2px 18px;margin:12px 0 0}
dl.stats div{display:flex;justify-content:space-between;border-bottom:1px dotted var(--line);padding:3px 0}
dl.stats dt{color:var(--muted)}
dl.stats dd{margin:0;font-variant-numeric:tabular-nums}
.table-wrap{max-height:520px;overflow:auto;border:1px solid var(--line);border-radius:6px}
table{border-collapse:collapse;width:100%;font-size:13px;font-variant-numeric:tabular-nums}
th,td{padding:5px 9px;border-bottom:1px solid var(--line);white-space:nowrap}
td.num,th.num{text-align:right}
thead th{position:sticky;top:0;background:#eef1f6;cursor:pointer;user-select:none;text-align:left}
thead th.num{text-align:right}
thead th[aria-sort=ascending]::after{content:" \25B2";font-size:10px}
thead th[aria-sort=descending]::after{content:" \25BC";font-size:10px}
tbody tr:hover{background:#f3f6fb}
#tip{position:fixed;pointer-events:none;z-index:10;max-width:420px;background:#1d2330;color:#fff;padding:7px 10px;border-radius:6px;font-size:12px;white-space:pre-line;box-shadow:0 4px 14px rgba(0,0,0,.25)}
footer{color:var(--muted);font-size:12px;margin-top:18px}
)css";

// Tooltips for every element with data-tip, and click-to-sort tables (numbers sort by data-v).
inline constexpr std::string_view page_script = R"js(
(function(){
  var tip=document.getElementById('tip');
  document.addEventListener('mousemove',function(e){
    var t=e.target.closest?e.target.closest('[data-tip]'):null;
    if(!t){tip.hidden=true;return;}
    tip.textContent=t.getAttribute('data-tip');tip.hidden=false;
    var x=e.clientX+14,y=e.clientY+14,r=tip.getBoundingClientRect();
    if(x+r.width>innerWidth-8)x=e.clientX-r.width-14;
    if(y+r.height>innerHeight-8)y=e.clientY-r.height-14;
    tip.style.left=Math.max(4,x)+'px';tip.style.top=Math.max(4,y)+'px';
  });
  document.querySelectorAll('table.sortable').forEach(function(table){
    var heads=table.querySelectorAll('thead th');
    heads.forEach(function(th,column){
      th.addEventListener('click',function(){
        var ascending=th.getAttribute('aria-sort')!=='ascending';
        heads.forEach(function(h){h.removeAttribute('aria-sort');});
        th.setAttribute('aria-sort',ascending?'ascending':'descending');
        var body=table.tBodies[0],rows=Array.prototype.slice.call(body.rows);
        var key=function(row){var c=row.cells[column],v=c.getAttribute('data-v');return v===null?c.textContent:(v===''?-Infinity:parseFloat(v));};
        rows.sort(function(a,b){var x=key(a),y=key(b);var o=(typeof x==='number'&&typeof y==='number')?x-y:String(x).localeCompare(String(y));return ascending?o:-o;});
        rows.forEach(function(r){body.appendChild(r);});
      });
    });
  });
})();
)js";

}  // namespace norq_profile::report::detail
