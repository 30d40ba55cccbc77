(function(){
var t=document.getElementById('r'),h=t.tHead.rows[0].cells,per=+t.dataset.b,col=-1,dir=1;
// The columns the script works with, found by their header's data-c.
var at={},i;
for(i=0;i<h.length;i++){if(h[i].dataset.c)at[h[i].dataset.c]=i;}
var K=at.k,E=at.e,V=at.v,O=at.o;
function all(){return Array.prototype.slice.call(t.querySelectorAll('tbody tr'));}
function offPage(work){var p=document.createComment(''),u=t.parentNode;u.replaceChild(p,t);work();u.replaceChild(t,p);thumbs();}
// Names sort as people count: FILE9 before FILE10 (digit runs compared as numbers).
function natural(s){return s.toLowerCase().replace(/\d+/g,function(d){return ('0000000000000000000'+d).slice(-20);});}
function sortBy(c){
  dir=c==col?-dir:1;col=c;
  var num='n' in h[c].dataset,rows=all(),n=rows.length,k=new Array(n),x=new Array(n),i;
  for(i=0;i<n;i++){var s=rows[i].cells[c].textContent;k[i]=num?(s===''?-1:+s):natural(s);x[i]=i;}
  x.sort(function(p,q){return (k[p]<k[q]?-dir:k[p]>k[q]?dir:0)||p-q;});
  offPage(function(){for(var i=0;i<n;i++)t.tBodies[Math.floor(i/per)].appendChild(rows[x[i]]);});
  for(i=0;i<h.length;i++)h[i].className=i==c?(dir>0?'a':'d'):'';
}
for(i=0;i<h.length;i++)h[i].onclick=sortBy.bind(null,i);
var fk=document.getElementById('fk'),fv=document.getElementById('fv'),fs=document.getElementById('fs'),
    shown=document.getElementById('n');
function filter(){
  var kv=fk.value,vv=fv?fv.value:'',sv=fs.value,rows=all(),n=0;
  offPage(function(){
    for(var i=0;i<rows.length;i++){
      var r=rows[i],c=r.cells,ok=(!kv||c[K].textContent+'\t'+c[E].textContent==kv)&&
        (!vv||c[V].textContent==vv)&&(!sv||(c[O].className||'r')==sv);
      if(r.hidden==ok)r.hidden=!ok;
      if(ok)n++;
    }
  });
  shown.textContent=n==rows.length?'':'showing '+n+' of '+rows.length;
}
fk.onchange=fs.onchange=filter;if(fv)fv.onchange=filter;
// Thumbnails: from the row at the top of the window down to its foot.
function next(r){var b=r.parentNode.nextElementSibling;return r.nextElementSibling||(b&&b.rows[0]);}
var pending=false;
function thumbs(){
  pending=false;
  var top=Math.max(t.tHead.getBoundingClientRect().bottom,0)+1,r=t.tBodies[0].rows[0];
  if(t.tHead.getBoundingClientRect().bottom<top){
    var e=document.elementFromPoint(t.getBoundingClientRect().left+4,top);
    while(e&&e.tagName!='TR')e=e.parentNode;
    if(e&&e.parentNode.parentNode===t)r=e.previousElementSibling||e;
  }
  for(var n=0;r&&n<500;r=next(r)){
    if(r.hidden)continue;
    if(r.getBoundingClientRect().top>innerHeight)break;
    var a=r.cells[O].firstChild;
    if(a&&a.className=='t'){var m=new Image();m.loading='lazy';m.alt='';m.src=a.href;a.className='';a.prepend(m);}
    n++;
  }
}
function later(){if(!pending){pending=true;requestAnimationFrame(thumbs);}}
addEventListener('scroll',later);addEventListener('resize',later);thumbs();
window.tessaroReport={sortBy:sortBy,filter:filter,thumbs:thumbs};
})();
