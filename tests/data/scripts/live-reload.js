// PeloTest live reload: the page reloads when a file of the site changes; a changed style
// sheet is swapped in place.
(function () {
  "use strict";
  if (!window.EventSource) return;
  var server = null;
  var source = new EventSource("/$int/live");
  source.addEventListener("hello", function (event) {
    if (server !== null && server !== event.data) location.reload();
    server = event.data;
  });
  source.addEventListener("reload", function () {
    location.reload();
  });
  // A changed style sheet is asked for again under the parameter $live, which the server
  // keeps out of the site's variables and its log.
  source.addEventListener("css", function (event) {
    var links = document.querySelectorAll("link[rel~=stylesheet i][href]");
    for (var i = 0; i < links.length; i++) {
      var url = new URL(links[i].getAttribute("href"), location.href);
      var path = url.pathname;
      try { path = decodeURIComponent(path); } catch (e) {}
      if (url.origin !== location.origin || path !== event.data) continue;
      url.searchParams.set("$live", String(Date.now()));
      links[i].href = url.href;
    }
  });
  source.addEventListener("bye", function () {
    source.close();
  });
})();
