(function(){var s=0;for(var i=0;i<2000;i++){s+=i%7;}window.benchSum=(window.benchSum||0)+s;})();
